// The Service Object libraries as a Control Object sees them: registration,
// creation by ProgID through the store, the exports and object counting.
#include <dirent.h>
#include <dlfcn.h>

#include <string>

#include <gtest/gtest.h>

#include "common/opos.h"
#include "platform/com_registry.h"
#include "platform/dispatch.h"
#include "platform/message_queue.h"
#include "tests/service/test_sink.h"
#include "tests/service/test_support.h"

namespace opos::test {
namespace {

struct Library {
  const char* file;
  const char* printer;
  const char* drawer;
  int32_t printerVersion;
};
const Library kLibraries[] = {
    {"libserialso.so", "KELVORA.RecPrinter.SO", "KELVORA.CashDrawer.SO", 1004001},
    {"libparallelso.so", "KELVORA.RecPrinter.SOP", "KELVORA.CashDrawer.SOP", 1003000},
    {"libusbso.so", "KELVORA.RecPrinter.SOU", "KELVORA.CashDrawer.SOU", 1003000},
};

std::string LibraryPath(const char* file) {
  return std::string(OPOS_BUILD_DIR) + "/service/" + file;
}

void* Load(const char* file) {
  void* h = dlopen(LibraryPath(file).c_str(), RTLD_NOW | RTLD_LOCAL);
  EXPECT_NE(h, nullptr) << dlerror();
  return h;
}

int CountEntries(const char* dir) {
  int n = 0;
  if (DIR* d = opendir(dir)) {
    while (readdir(d)) ++n;
    closedir(d);
  }
  return n;
}

int32_t CallLong(com::IDispatch* o, const char* name, std::vector<com::Variant> args) {
  int32_t id = 0;
  EXPECT_EQ(o->GetIDsOfNames(name, &id), com::S_OK) << name;
  com::Variant r;
  EXPECT_EQ(o->Invoke(id, args, &r), com::S_OK) << name;
  return r.lVal;
}

class Libraries : public ::testing::Test {
 protected:
  TempRegistry reg_;
};

TEST_F(Libraries, RegisterAndCreateByProgId) {
  for (const Library& lib : kLibraries) {
    void* h = Load(lib.file);
    ASSERT_TRUE(h);
    auto reg = reinterpret_cast<com::DllRegisterServerFn>(dlsym(h, "DllRegisterServer"));
    ASSERT_TRUE(reg);
    EXPECT_EQ(reg(), com::S_OK);
    for (const char* progId : {lib.printer, lib.drawer}) {
      com::IDispatch* obj = nullptr;
      std::string error;
      ASSERT_EQ(com::CreateObjectByProgId(reg_.Store(), progId, &obj, &error), com::S_OK) << error;
      com::Variant r;
      EXPECT_EQ(CallLong(obj, "GetPropertyNumber", {com::Variant::Long(PIDX_State)}), OPOS_S_CLOSED);
      int32_t id = 0;
      ASSERT_EQ(obj->GetIDsOfNames("GetPropertyString", &id), com::S_OK);
      std::vector<com::Variant> a{com::Variant::Long(PIDX_DeviceName)};
      ASSERT_EQ(obj->Invoke(id, a, &r), com::S_OK);
      EXPECT_EQ(r.strVal, progId);
      if (progId == lib.printer) {
        EXPECT_EQ(CallLong(obj, "GetPropertyNumber", {com::Variant::Long(PIDX_ServiceObjectVersion)}),
                  lib.printerVersion);
      }
      obj->Release();
    }
  }
}

TEST_F(Libraries, OnlyTheThreeEntryPointsAreExported) {
  for (const Library& lib : kLibraries) {
    void* h = Load(lib.file);
    ASSERT_TRUE(h);
    for (const char* sym : {"DllGetClassObject", "DllCanUnloadNow", "DllRegisterServer"}) {
      EXPECT_NE(dlsym(h, sym), nullptr) << sym;
    }
    for (const char* hidden : {"DllUnregisterServer", "_ZN4opos11ThisLibraryEv"}) {
      EXPECT_EQ(dlsym(h, hidden), nullptr) << hidden;
    }
  }
}

TEST_F(Libraries, UnknownClassesAndUnregisteredProgIds) {
  void* h = Load("libserialso.so");
  ASSERT_TRUE(h);
  auto get = reinterpret_cast<com::DllGetClassObjectFn>(dlsym(h, "DllGetClassObject"));
  com::IClassFactory* f = nullptr;
  EXPECT_EQ(get(com::Guid{}, &f), com::CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(f, nullptr);
  com::IDispatch* obj = nullptr;
  std::string error;
  EXPECT_EQ(com::CreateObjectByProgId(reg_.Store(), "KELVORA.Nothing", &obj, &error),
            com::REGDB_E_CLASSNOTREG);
  EXPECT_FALSE(error.empty());
  // A registration whose library does not load.
  com::Guid g;
  ASSERT_TRUE(com::Guid::Parse("{00000000-1111-2222-3333-444444444444}", &g));
  ASSERT_EQ(com::RegisterClass(reg_.Store(), "Broken.Thing", g, "x", "/nonexistent/lib.so"), com::S_OK);
  EXPECT_EQ(com::CreateObjectByProgId(reg_.Store(), "Broken.Thing", &obj, &error), com::CO_E_DLLNOTFOUND);
  EXPECT_NE(error.find("/nonexistent/lib.so"), std::string::npos);
}

TEST_F(Libraries, CanUnloadOnlyWithoutObjectsAndLocks) {
  void* h = Load("libparallelso.so");
  ASSERT_TRUE(h);
  auto get = reinterpret_cast<com::DllGetClassObjectFn>(dlsym(h, "DllGetClassObject"));
  auto canUnload = reinterpret_cast<com::DllCanUnloadNowFn>(dlsym(h, "DllCanUnloadNow"));
  reinterpret_cast<com::DllRegisterServerFn>(dlsym(h, "DllRegisterServer"))();
  com::Guid clsid;
  reg::Value v;
  ASSERT_EQ(reg_.Store().QueryValue(reg::Root::ClassesRoot, "KELVORA.RecPrinter.SOP\\CLSID", "", &v),
            reg::kOk);
  ASSERT_TRUE(com::Guid::Parse(reg::SzText(v.data), &clsid));
  com::IClassFactory* f = nullptr;
  ASSERT_EQ(get(clsid, &f), com::S_OK);
  EXPECT_EQ(canUnload(), com::S_OK);
  f->LockServer(true);
  EXPECT_EQ(canUnload(), com::S_FALSE);
  f->LockServer(false);
  com::IDispatch* a = nullptr;
  ASSERT_EQ(f->CreateInstance(&a), com::S_OK);
  EXPECT_EQ(canUnload(), com::S_FALSE);
  a->AddRef();
  a->Release();
  EXPECT_EQ(canUnload(), com::S_FALSE);
  a->Release();
  EXPECT_EQ(canUnload(), com::S_OK);
  f->Release();
}

TEST_F(Libraries, AThousandObjectsLeaveNothingBehind) {
  void* h = Load("libserialso.so");
  ASSERT_TRUE(h);
  reinterpret_cast<com::DllRegisterServerFn>(dlsym(h, "DllRegisterServer"))();
  reg_.AddSerialDevice(false, "P", "/nonexistent-port", "QMT500");
  TestSink sink;
  // The opening thread's message queue (one eventfd) lives as long as the
  // thread; it is made before counting.
  platform::MessageQueue::ForCurrentThread();
  const int threadsBefore = CountEntries("/proc/self/task");
  const int fdsBefore = CountEntries("/proc/self/fd");
  for (int i = 0; i < 1000; ++i) {
    com::IDispatch* obj = nullptr;
    std::string error;
    ASSERT_EQ(com::CreateObjectByProgId(reg_.Store(), "KELVORA.RecPrinter.SO", &obj, &error), com::S_OK);
    if (i % 100 == 0) {
      EXPECT_EQ(CallLong(obj, "OpenService",
                         {com::Variant::String("POSPrinter"), com::Variant::String("P"),
                          com::Variant::Dispatch(&sink)}),
                OPOS_SUCCESS);
    }
    obj->Release();
  }
  EXPECT_EQ(CountEntries("/proc/self/task"), threadsBefore);
  EXPECT_EQ(CountEntries("/proc/self/fd"), fdsBefore);
  auto canUnload = reinterpret_cast<com::DllCanUnloadNowFn>(dlsym(h, "DllCanUnloadNow"));
  EXPECT_EQ(canUnload(), com::S_OK);
}

}  // namespace
}  // namespace opos::test
