// Creating a COM object from its programmatic identifier, for the object
// test: resolve the identifier, create the object, ask it for IDispatch.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/base/Environment.h"

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

  // The whole test: the three steps in order, everything obtained released.
  // True only when all three succeeded.
  virtual bool TryCreate(const std::string& progId);
};

// The object test for the classes of the computer being viewed, through the
// helper program (ObjectHelper.h). On Windows: the helper beside the program,
// or COM in this process when there is none. Elsewhere only this computer's
// Wine prefix can create objects, when Wine and the helper are installed;
// for every other registry (`thisComputer` false: a connected computer or an
// image) each test fails. `whileWaiting` runs while the helper works.
std::unique_ptr<ObjectCreation> ObjectCreationFor(bool thisComputer,
                                                  std::function<void()> whileWaiting);
// The same with the variables that choose this computer's image, Wine and the
// helper read through `environment`.
std::unique_ptr<ObjectCreation> ObjectCreationFor(bool thisComputer,
                                                  std::function<void()> whileWaiting,
                                                  const EnvironmentLookup& environment);

}  // namespace orbel::platform
