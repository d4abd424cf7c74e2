// The class registry behind CoCreateInstance and the apartment calls.
#include "platform/com/ComRuntime.h"
#include "platform/com/Guids.h"

#include <gtest/gtest.h>

#include <thread>

namespace qorn::platform {
namespace {

class Dummy final : public IUnknown {
  public:
    DWORD AddRef() override { return ++refs; }
    DWORD Release() override {
        const DWORD left = --refs;
        if (left == 0) delete this;
        return left;
    }
    DWORD refs = 1;

  private:
    ~Dummy() override = default;
};

class ComRuntimeTest : public ::testing::Test {
  protected:
    void SetUp() override {
        UnregisterAllClassFactories();
        SetComApartmentHooks({});
    }
    void TearDown() override { UnregisterAllClassFactories(); }
};

TEST_F(ComRuntimeTest, AnUnregisteredClassIsRefused) {
    void* object = &object;
    EXPECT_EQ(CoCreateInstance(CLSID_DirectMusic, nullptr, CLSCTX_INPROC_SERVER, IID_IDirectMusic2, &object),
              REGDB_E_CLASSNOTREG);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(CoCreateInstance(CLSID_DirectMusic, nullptr, CLSCTX_INPROC_SERVER, IID_IDirectMusic2, nullptr),
              E_POINTER);
}

TEST_F(ComRuntimeTest, ARegisteredFactoryMakesTheObjectAndALaterOneReplacesIt) {
    int made = 0;
    RegisterClassFactory(CLSID_DirectMusicLoader, [](REFIID, void**) { return E_FAIL; });
    RegisterClassFactory(CLSID_DirectMusicLoader, [&](REFIID riid, void** ppv) {
        ++made;
        if (riid != IID_IDirectMusicLoader) return E_NOINTERFACE;
        *ppv = static_cast<IUnknown*>(new Dummy);
        return S_OK;
    });
    void* object = nullptr;
    ASSERT_EQ(CoCreateInstance(CLSID_DirectMusicLoader, nullptr, 3, IID_IDirectMusicLoader, &object), S_OK);
    ASSERT_NE(object, nullptr);
    static_cast<IUnknown*>(object)->Release();
    EXPECT_EQ(CoCreateInstance(CLSID_DirectMusicLoader, nullptr, 3, IID_IDirectMusic2, &object), E_NOINTERFACE);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(made, 2);
}

TEST_F(ComRuntimeTest, AggregationIsRefusedBeforeTheFactoryRuns) {
    bool called = false;
    RegisterClassFactory(CLSID_DirectMusic, [&](REFIID, void**) {
        called = true;
        return S_OK;
    });
    Dummy* outer = new Dummy;
    void* object = &object;
    EXPECT_EQ(CoCreateInstance(CLSID_DirectMusic, outer, 3, IID_IDirectMusic2, &object), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(object, nullptr);
    EXPECT_FALSE(called);
    outer->Release();
}

TEST_F(ComRuntimeTest, AFailingFactoryLeavesNoObject) {
    RegisterClassFactory(CLSID_DirectMusic, [](REFIID, void** ppv) {
        *ppv = reinterpret_cast<void*>(0x1234); // a sloppy factory
        return E_OUTOFMEMORY;
    });
    void* object = nullptr;
    EXPECT_EQ(CoCreateInstance(CLSID_DirectMusic, nullptr, 3, IID_IDirectMusic2, &object), E_OUTOFMEMORY);
    EXPECT_EQ(object, nullptr);
}

TEST_F(ComRuntimeTest, CoInitializeNestsPerThread) {
    // A fresh thread starts outside any apartment.
    std::thread([] {
        EXPECT_EQ(CoInitialize(nullptr), S_OK);
        EXPECT_EQ(CoInitialize(nullptr), S_FALSE);
        CoUninitialize();
        EXPECT_EQ(CoInitialize(nullptr), S_FALSE);
        CoUninitialize();
        CoUninitialize();
        EXPECT_EQ(CoInitialize(nullptr), S_OK);
        CoUninitialize();
        CoUninitialize(); // one too many is harmless
        EXPECT_EQ(CoInitialize(nullptr), S_OK);
        CoUninitialize();
    }).join();
}

TEST_F(ComRuntimeTest, HooksTakeOverTheApartmentCalls) {
    int uninitialized = 0;
    SetComApartmentHooks({[](void*) { return E_UNEXPECTED; }, [&] { ++uninitialized; }});
    EXPECT_EQ(CoInitialize(nullptr), E_UNEXPECTED);
    CoUninitialize();
    EXPECT_EQ(uninitialized, 1);
    SetComApartmentHooks({});
}

} // namespace
} // namespace qorn::platform
