#include "platform/objects/ObjectCreation.h"

#include <cstdlib>

#include "platform/computer/LocalImage.h"
#include "platform/objects/ObjectHelper.h"

#ifdef _WIN32
#include "platform/base/WindowsApi.h"

#include <objbase.h>
#include <oleauto.h>

#include <cstring>
#endif

namespace orbel::platform {
namespace {

#ifdef _WIN32
class ComObjectCreation : public ObjectCreation {
 public:
  bool ClassIdFromProgId(const std::string& progId, std::string& classId) override {
    CLSID clsid{};
    if (FAILED(CLSIDFromProgID(Wide(progId).c_str(), &clsid))) return false;
    classId.assign(reinterpret_cast<const char*>(&clsid), sizeof clsid);
    return true;
  }
  bool CreateInstance(const std::string& classId, void*& unknown) override {
    if (classId.size() != sizeof(CLSID)) return false;
    CLSID clsid{};
    std::memcpy(&clsid, classId.data(), sizeof clsid);
    IUnknown* object = nullptr;
    if (FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER,
                                IID_IUnknown, reinterpret_cast<void**>(&object)))) {
      return false;
    }
    unknown = object;
    return true;
  }
  bool QueryDispatch(void* unknown, void*& dispatch) override {
    IDispatch* object = nullptr;
    if (FAILED(static_cast<IUnknown*>(unknown)->QueryInterface(
            IID_IDispatch, reinterpret_cast<void**>(&object)))) {
      return false;
    }
    dispatch = object;
    return true;
  }
  void Release(void* object) override {
    if (object) static_cast<IUnknown*>(object)->Release();
  }
};
#endif

class NoObjectCreation : public ObjectCreation {
 public:
  bool ClassIdFromProgId(const std::string&, std::string&) override { return false; }
  bool CreateInstance(const std::string&, void*&) override { return false; }
  bool QueryDispatch(void*, void*&) override { return false; }
  void Release(void*) override {}
};

}  // namespace

bool ObjectCreation::TryCreate(const std::string& progId) {
  std::string classId;
  void* unknown = nullptr;
  void* dispatch = nullptr;
  bool created = false;
  if (ClassIdFromProgId(progId, classId) && CreateInstance(classId, unknown)) {
    created = QueryDispatch(unknown, dispatch);
    Release(unknown);
  }
  if (dispatch) Release(dispatch);
  return created;
}

std::unique_ptr<ObjectCreation> ObjectCreationFor(bool thisComputer,
                                                  std::function<void()> whileWaiting) {
  return ObjectCreationFor(thisComputer, std::move(whileWaiting),
                           [](const char* name) -> std::optional<std::string> {
                             const char* value = std::getenv(name);
                             if (value == nullptr) return std::nullopt;
                             return std::string(value);
                           });
}

std::unique_ptr<ObjectCreation> ObjectCreationFor(bool thisComputer,
                                                  std::function<void()> whileWaiting,
                                                  const EnvironmentLookup& environment) {
#ifdef _WIN32
  (void)thisComputer;
  if (auto helper = FindObjectHelper(environment)) {
    return std::make_unique<HelperObjectCreation>(ObjectHelperCommand{{helper->string()}, {}},
                                                  std::move(whileWaiting));
  }
  return std::make_unique<ComObjectCreation>();
#else
  if (!thisComputer) return std::make_unique<NoObjectCreation>();
  const LocalImageChoice local = ChooseLocalImage(environment, {});
  if (local.reason != "Wine prefix") return std::make_unique<NoObjectCreation>();
  const auto wine = FindWine(environment);
  const auto helper = FindObjectHelper(environment);
  if (!wine || !helper) return std::make_unique<NoObjectCreation>();
  // The prefix goes to the helper whether it came from $WINEPREFIX or is ~/.wine.
  ObjectHelperCommand command{{wine->string(), helper->string()},
                              {{"WINEPREFIX", local.path.string()}}};
  return std::make_unique<HelperObjectCreation>(std::move(command), std::move(whileWaiting));
#endif
}

}  // namespace orbel::platform
