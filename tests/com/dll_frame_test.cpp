// The COM server frame through the real exports of the built Kestrune.dll.
#include <gtest/gtest.h>

#include <shlobj.h>

#include <tuple>

#include "kestrune_h.h"
#include "tests/com/dll_module.h"

namespace kestrune::testing {
namespace {

const IID kICopyHookW = {0x000214FC, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

class DllFrame : public ::testing::Test {
protected:
    static void SetUpTestSuite() { CoInitialize(nullptr); }
    static void TearDownTestSuite() { CoUninitialize(); }
    void SetUp() override {
        ASSERT_NE(dll.module, nullptr) << "Kestrune.dll did not load";
        ASSERT_TRUE(dll.canUnloadNow && dll.getClassObject && dll.registerServer && dll.unregisterServer);
    }
    void TearDown() override { EXPECT_EQ(dll.canUnloadNow(), S_OK) << "a module lock was left behind"; }

    IClassFactory* Factory(REFCLSID clsid = CLSID_HardLink) {
        IClassFactory* factory = nullptr;
        EXPECT_EQ(dll.getClassObject(clsid, IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
        return factory;
    }
    IUnknown* NewHardLink(REFIID riid = IID_IUnknown) {
        IClassFactory* factory = Factory();
        IUnknown* object = nullptr;
        EXPECT_EQ(factory->CreateInstance(nullptr, riid, reinterpret_cast<void**>(&object)), S_OK);
        factory->Release();
        return object;
    }
    DllModule dll;
};

TEST_F(DllFrame, ClassObjectsAreMadeOnceAndCached) {
    EXPECT_EQ(dll.getClassObject(CLSID_HardLink, IID_IClassFactory, nullptr), E_POINTER);
    IClassFactory* first = Factory();
    IClassFactory* second = Factory();
    EXPECT_EQ(first, second);
    EXPECT_EQ(dll.canUnloadNow(), S_FALSE); // held from outside
    first->Release();
    second->Release();
    EXPECT_EQ(dll.canUnloadNow(), S_OK); // only the table's own reference is left
    IUnknown* unknown = nullptr;
    EXPECT_EQ(dll.getClassObject(CLSID_HardLink, IID_IUnknown, reinterpret_cast<void**>(&unknown)), S_OK);
    EXPECT_EQ(static_cast<void*>(unknown), static_cast<void*>(Factory()));
    unknown->Release();
    unknown->Release();
}

TEST_F(DllFrame, UnknownClassesAndInterfacesAreRefused) {
    const CLSID stranger = {0x12345678, 1, 2, {3, 4, 5, 6, 7, 8, 9, 10}};
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(dll.getClassObject(stranger, IID_IClassFactory, &out), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(out, nullptr);
    out = reinterpret_cast<void*>(1);
    EXPECT_EQ(dll.getClassObject(CLSID_HardLink, IID_IDispatch, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    // The mount classes answer their own interface tables, and nothing of another class's.
    const IID* reparse[] = {&IID_IReparsePoint, &IID_IDispatch, &IID_IShellExtInit, &IID_IContextMenu,
                            &IID_IShellIconOverlayIdentifier};
    const IID* hook[] = {&kICopyHookW};
    for (auto [clsid, answered, count] : {std::tuple{&CLSID_ReparsePoint, reparse, 5}, {&CLSID_OperationHook, hook, 1}}) {
        SCOPED_TRACE(clsid == &CLSID_ReparsePoint ? "ReparsePoint" : "OperationHook");
        IClassFactory* factory = Factory(*clsid);
        IUnknown* object = nullptr;
        ASSERT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(&object)), S_OK);
        for (const IID* iid : {&IID_IHardLink, &IID_IPropNTFS, &IID_IOperationHook, &IID_IShellPropSheetExt})
            EXPECT_EQ(object->QueryInterface(*iid, &out), E_NOINTERFACE);
        for (int i = 0; i < count; ++i) {
            IUnknown* face = nullptr;
            ASSERT_EQ(object->QueryInterface(*answered[i], reinterpret_cast<void**>(&face)), S_OK);
            EXPECT_EQ(face->Release(), 1u);
        }
        EXPECT_EQ(object->QueryInterface(clsid == &CLSID_ReparsePoint ? kICopyHookW : IID_IContextMenu, &out), E_NOINTERFACE);
        EXPECT_EQ(object->Release(), 0u);
        factory->Release();
    }
}

TEST_F(DllFrame, LockServerKeepsTheLibraryLoaded) {
    IClassFactory* factory = Factory();
    factory->LockServer(TRUE);
    factory->Release();
    EXPECT_EQ(dll.canUnloadNow(), S_FALSE);
    factory->LockServer(FALSE);
    EXPECT_EQ(dll.canUnloadNow(), S_OK);
}

TEST_F(DllFrame, CreateInstanceRefusesWhatItCannotMake) {
    IClassFactory* factory = Factory();
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IContextMenu, nullptr), E_POINTER);
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(factory->CreateInstance(nullptr, kICopyHookW, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    struct Outer : IUnknown {
        STDMETHODIMP QueryInterface(REFIID, void** ppv) override {
            *ppv = nullptr;
            return E_NOINTERFACE;
        }
        STDMETHODIMP_(ULONG) AddRef() override { return ++count; }
        STDMETHODIMP_(ULONG) Release() override { return --count; }
        int count = 1;
    } controller;
    out = reinterpret_cast<void*>(1);
    EXPECT_EQ(factory->CreateInstance(&controller, IID_IContextMenu, &out), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(out, nullptr);
    factory->Release();
}

TEST_F(DllFrame, HardLinkAnswersItsInterfaceTable) {
    IUnknown* object = NewHardLink();
    EXPECT_EQ(dll.canUnloadNow(), S_FALSE); // a live object holds a module lock
    const IID* answered[] = {&IID_IHardLink, &IID_IDispatch, &IID_IShellExtInit, &IID_IContextMenu,
                             &IID_IShellIconOverlayIdentifier};
    const IID* refused[] = {&IID_IReparsePoint, &IID_IPropNTFS, &IID_IOperationHook, &IID_IShellPropSheetExt,
                            &kICopyHookW, &IID_IClassFactory};
    void* identity = nullptr;
    for (const IID* iid : answered) {
        IUnknown* face = nullptr;
        ASSERT_EQ(object->QueryInterface(*iid, reinterpret_cast<void**>(&face)), S_OK);
        IUnknown* back = nullptr;
        ASSERT_EQ(face->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&back)), S_OK);
        if (!identity) identity = back;
        EXPECT_EQ(identity, static_cast<void*>(back)) << "every interface leads to one identity";
        back->Release();
        face->Release();
    }
    EXPECT_EQ(identity, static_cast<void*>(object));
    void* hardLink = nullptr;
    void* dispatch = nullptr;
    object->QueryInterface(IID_IHardLink, &hardLink);
    object->QueryInterface(IID_IDispatch, &dispatch);
    EXPECT_EQ(hardLink, dispatch); // the dual interface is the IDispatch
    EXPECT_EQ(hardLink, identity);
    static_cast<IUnknown*>(hardLink)->Release();
    static_cast<IUnknown*>(dispatch)->Release();
    for (const IID* iid : refused) {
        void* out = reinterpret_cast<void*>(1);
        EXPECT_EQ(object->QueryInterface(*iid, &out), E_NOINTERFACE);
        EXPECT_EQ(out, nullptr);
    }
    EXPECT_EQ(object->QueryInterface(IID_IUnknown, nullptr), E_POINTER);
    EXPECT_EQ(object->Release(), 0u);
}

TEST_F(DllFrame, AnAggregatedHardLinkDelegatesToItsOuterObject) {
    struct Outer : IUnknown {
        IUnknown* inner = nullptr;
        int count = 1;
        STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
            if (IsEqualIID(riid, IID_IUnknown)) {
                *ppv = this;
                AddRef();
                return S_OK;
            }
            if (IsEqualIID(riid, IID_IContextMenu)) return inner->QueryInterface(riid, ppv); // the one it shows
            *ppv = nullptr;
            return E_NOINTERFACE;
        }
        STDMETHODIMP_(ULONG) AddRef() override { return ++count; }
        STDMETHODIMP_(ULONG) Release() override { return --count; }
    } outer;
    IClassFactory* factory = Factory();
    ASSERT_EQ(factory->CreateInstance(&outer, IID_IUnknown, reinterpret_cast<void**>(&outer.inner)), S_OK);
    factory->Release();
    IContextMenu* menu = nullptr;
    ASSERT_EQ(outer.inner->QueryInterface(IID_IContextMenu, reinterpret_cast<void**>(&menu)), S_OK);
    EXPECT_EQ(outer.count, 2); // the inner interface counts on the outer object
    IUnknown* viaMenu = nullptr;
    ASSERT_EQ(menu->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&viaMenu)), S_OK);
    EXPECT_EQ(viaMenu, static_cast<IUnknown*>(&outer)); // identity is the outer object's
    viaMenu->Release();
    IContextMenu* again = nullptr;
    EXPECT_EQ(menu->QueryInterface(IID_IContextMenu, reinterpret_cast<void**>(&again)), S_OK);
    EXPECT_EQ(outer.count, 3);
    again->Release();
    void* hidden = reinterpret_cast<void*>(1);
    EXPECT_EQ(menu->QueryInterface(IID_IShellExtInit, &hidden), E_NOINTERFACE) << "the outer object does not show it";
    EXPECT_EQ(hidden, nullptr);
    menu->Release();
    EXPECT_EQ(outer.count, 1);
    EXPECT_EQ(dll.canUnloadNow(), S_FALSE);
    EXPECT_EQ(outer.inner->Release(), 0u);
}

TEST_F(DllFrame, TypeInformationLoadsOnceTheLibraryIsRegistered) {
    IDispatch* dispatch = nullptr;
    IUnknown* object = NewHardLink(IID_IDispatch);
    dispatch = static_cast<IDispatch*>(static_cast<void*>(object));
    UINT count = 0;
    EXPECT_EQ(dispatch->GetTypeInfoCount(&count), S_OK);
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(dispatch->GetTypeInfo(0, 0, nullptr), E_POINTER);

    // Registration lands in a scratch key standing in for HKEY_CLASSES_ROOT.
    HKEY scratch = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\KestruneTests\\TypeInfo", 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &scratch, nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegOverridePredefKey(HKEY_CLASSES_ROOT, scratch), ERROR_SUCCESS);
    ITypeInfo* info = nullptr;
    HRESULT unregistered = dispatch->GetTypeInfo(0, 0, &info);
    EXPECT_TRUE(FAILED(unregistered));
    EXPECT_EQ(info, nullptr);

    ITypeLib* library = nullptr;
    ASSERT_EQ(LoadTypeLibEx(dll.Path().c_str(), REGKIND_NONE, &library), S_OK);
    std::wstring path = dll.Path();
    ASSERT_EQ(RegisterTypeLib(library, const_cast<wchar_t*>(path.c_str()), nullptr), S_OK);
    ASSERT_EQ(dispatch->GetTypeInfo(0, 0, &info), S_OK) << "a failed first load must be retried";
    ITypeInfo* again = nullptr;
    ASSERT_EQ(dispatch->GetTypeInfo(7, 0x0411, &again), S_OK);
    EXPECT_EQ(info, again);
    TYPEATTR* attributes = nullptr;
    ASSERT_EQ(info->GetTypeAttr(&attributes), S_OK);
    EXPECT_TRUE(IsEqualGUID(attributes->guid, IID_IHardLink));
    info->ReleaseTypeAttr(attributes);
    again->Release();
    info->Release();

    OLECHAR name[] = L"NoSuchMember";
    LPOLESTR names[] = {name};
    DISPID id = 0;
    EXPECT_EQ(dispatch->GetIDsOfNames(IID_NULL, names, 1, 0, &id), DISP_E_UNKNOWNNAME);
    OLECHAR known[] = L"GetTypeInfoCount";
    names[0] = known;
    EXPECT_EQ(dispatch->GetIDsOfNames(IID_NULL, names, 1, 0, &id), S_OK);

    TLIBATTR* libraryAttributes = nullptr;
    library->GetLibAttr(&libraryAttributes);
    UnRegisterTypeLib(libraryAttributes->guid, 1, 0, libraryAttributes->lcid, SYS_WIN64);
    library->ReleaseTLibAttr(libraryAttributes);
    library->Release();
    RegOverridePredefKey(HKEY_CLASSES_ROOT, nullptr);
    RegCloseKey(scratch);
    RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\KestruneTests");
    EXPECT_EQ(object->Release(), 0u);
}

} // namespace
} // namespace kestrune::testing
