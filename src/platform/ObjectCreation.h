// Creating a COM object from its programmatic identifier, for the object
// test: resolve the identifier, create the object, ask it for IDispatch.
#pragma once

#include <string>

namespace orbel::platform {

class ObjectCreation {
 public:
  virtual ~ObjectCreation() = default;
  // Each step answers false when it fails. Objects are opaque references,
  // each given back with Release.
  virtual bool ClassIdFromProgId(const std::string& progId, std::string& classId) = 0;
  virtual bool CreateInstance(const std::string& classId, void*& unknown) = 0;
  virtual bool QueryDispatch(void* unknown, void*& dispatch) = 0;
  virtual void Release(void* object) = 0;
};

// COM on Windows. Elsewhere no object can be created: every test fails at
// the first step, and the test reports it as a failed test.
ObjectCreation& SystemObjectCreation();

}  // namespace orbel::platform
