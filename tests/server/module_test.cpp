// The module's class-object cache, lock count and unload clean-up, on tables of counting fakes.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "kestrune_h.h"
#include "server/com_object.h"
#include "server/module.h"
#include "server/type_info_holder.h"
#include "tests/com/dll_module.h"
#include "tests/fake/leak_checked_test.h"

namespace kestrune::testing {
namespace {

const CLSID kFirst = {0x11111111, 0, 0, {1, 1, 1, 1, 1, 1, 1, 1}};
const CLSID kSecond = {0x22222222, 0, 0, {2, 2, 2, 2, 2, 2, 2, 2}};

// A class object that answers IUnknown only and counts its releases.
struct CountingObject : IUnknown {
    int releases = 0;
    int references = 0;
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (!IsEqualIID(riid, IID_IUnknown)) {
            *ppv = nullptr;
            return E_NOINTERFACE;
        }
        *ppv = this;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++references; }
    STDMETHODIMP_(ULONG) Release() override {
        ++releases;
        return --references;
    }
};

CountingObject firstObject, secondObject;
int creations = 0;

HRESULT MakeFirst(CreateInstanceProc, REFIID riid, void** ppv) {
    ++creations;
    return firstObject.QueryInterface(riid, ppv);
}
HRESULT MakeSecond(CreateInstanceProc, REFIID riid, void** ppv) { return secondObject.QueryInterface(riid, ppv); }
HRESULT OutOfMemory(CreateInstanceProc, REFIID, void**) { return E_OUTOFMEMORY; }

std::vector<int> cleanupOrder;
void RecordCleanup(DWORD_PTR argument) { cleanupOrder.push_back(static_cast<int>(argument)); }

// Runs a test on the module with its own table, and gives the library's table back afterwards.
class ModuleWithTable : public ::testing::Test {
protected:
    void SetUp() override {
        saved = Module();
        firstObject = CountingObject{};
        secondObject = CountingObject{};
        creations = 0;
        cleanupOrder.clear();
        Module().Initialize(GetModuleHandleW(nullptr), table);
    }
    void TearDown() override {
        for (ClassEntry* row = table; row->clsid; ++row) row->classObject = nullptr;
        Module() = saved;
    }
    ClassEntry table[4] = {
        {&kFirst, nullptr, MakeFirst, nullptr, nullptr},
        {&kSecond, nullptr, MakeSecond, nullptr, nullptr},
        {&IID_IClassFactory, nullptr, OutOfMemory, nullptr, nullptr},
        {nullptr, nullptr, nullptr, nullptr, nullptr},
    };
    ServerModule saved{};
};

TEST_F(ModuleWithTable, AClassObjectIsCachedEvenWhenTheInterfaceIsRefused) {
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(GetClassObject(kFirst, IID_IClassFactory, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(creations, 1);
    EXPECT_EQ(GetClassObject(kFirst, IID_IUnknown, &out), S_OK);
    EXPECT_EQ(out, static_cast<void*>(&firstObject));
    EXPECT_EQ(creations, 1) << "the cached object is handed out again";
    firstObject.Release();
    out = reinterpret_cast<void*>(1);
    EXPECT_EQ(GetClassObject(IID_IClassFactory, IID_IUnknown, &out), E_OUTOFMEMORY); // the creator's error
    EXPECT_EQ(out, nullptr);
    Module().Shutdown();
}

// Detach runs inside the loader lock: the clean-ups, which call into other libraries, wait for
// DllCanUnloadNow to find the library unused.
TEST_F(ModuleWithTable, DetachReleasesEachClassObjectOnceAndUnloadingRunsCleanupsNewestFirst) {
    void* out = nullptr;
    GetClassObject(kFirst, IID_IUnknown, &out);
    firstObject.Release();
    GetClassObject(kSecond, IID_IUnknown, &out);
    secondObject.Release();
    firstObject.releases = secondObject.releases = 0;
    ASSERT_EQ(Module().AddCleanup(RecordCleanup, 1), S_OK);
    ASSERT_EQ(Module().AddCleanup(RecordCleanup, 2), S_OK);
    ASSERT_EQ(Module().AddCleanup(RecordCleanup, static_cast<DWORD_PTR>(-3)), S_OK); // pointer-sized arguments
    TermFunction* pending = Module().cleanupList;
    Module().Shutdown();
    EXPECT_EQ(cleanupOrder, std::vector<int>{}) << "detach calls no clean-up";
    Module().Initialize(GetModuleHandleW(nullptr), table);
    Module().cleanupList = pending;
    Module().Lock();
    EXPECT_EQ(CanUnloadNow(), S_FALSE);
    EXPECT_EQ(cleanupOrder, std::vector<int>{}) << "in use: nothing is released";
    Module().Unlock();
    EXPECT_EQ(CanUnloadNow(), S_OK);
    EXPECT_EQ(firstObject.releases, 1);
    EXPECT_EQ(secondObject.releases, 1);
    EXPECT_EQ(firstObject.references, 0);
    EXPECT_EQ(table[0].classObject, nullptr);
    EXPECT_EQ(cleanupOrder, (std::vector<int>{-3, 2, 1}));
    EXPECT_EQ(Module().cleanupList, nullptr);
    Module().Shutdown();
}

TEST_F(ModuleWithTable, TheLockCountDecidesUnloading) {
    EXPECT_EQ(CanUnloadNow(), S_OK);
    EXPECT_EQ(Module().Lock(), 1);
    EXPECT_EQ(Module().Lock(), 2);
    EXPECT_EQ(CanUnloadNow(), S_FALSE);
    EXPECT_EQ(Module().Unlock(), 1);
    EXPECT_EQ(Module().Unlock(), 0);
    EXPECT_EQ(CanUnloadNow(), S_OK);
    Module().Shutdown();
}

TEST(DllConcurrency, ThreadsAskingAtOnceGetOneClassObject) {
    for (int round = 0; round < 20; ++round) {
        DllModule dll;
        ASSERT_NE(dll.module, nullptr);
        HANDLE go = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        IUnknown* seen[6] = {};
        std::vector<std::thread> threads;
        for (auto& slot : seen)
            threads.emplace_back([&, out = &slot] {
                WaitForSingleObject(go, INFINITE);
                dll.getClassObject(CLSID_HardLink, IID_IUnknown, reinterpret_cast<void**>(out));
            });
        SetEvent(go);
        for (auto& thread : threads) thread.join();
        CloseHandle(go);
        for (IUnknown* object : seen) {
            ASSERT_NE(object, nullptr);
            EXPECT_EQ(object, seen[0]);
        }
        for (IUnknown* object : seen) object->Release();
        EXPECT_EQ(dll.canUnloadNow(), S_OK);
    }
}


// Until a class's own tear-down has run, DllCanUnloadNow must not let the library go.
struct TearDownProbe : IUnknown {
    static const InterfaceTable<TearDownProbe> interfaces;
    static inline LONG locksInTearDown = -1;
    ~TearDownProbe() { locksInTearDown = Module().lockCount; }
};
const InterfaceEntry<TearDownProbe> probeRows[] = {{&IID_IUnknown, InterfaceOf<TearDownProbe, IUnknown>}};
const InterfaceTable<TearDownProbe> TearDownProbe::interfaces = MakeInterfaceTable(probeRows);

TEST(ObjectLifetime, TheModuleLockOutlivesTheClassTearDown) {
    LONG before = Module().lockCount;
    IUnknown* object = nullptr;
    ASSERT_EQ(CreateComObject<TearDownProbe>(nullptr, IID_IUnknown, reinterpret_cast<void**>(&object)), S_OK);
    EXPECT_EQ(object->Release(), 0u);
    EXPECT_EQ(TearDownProbe::locksInTearDown, before + 1);
    EXPECT_EQ(Module().lockCount, before);
}

// A member name is looked up without regard to case; parameter names only by the type
// information (never as members). The cache holds one extra member the type information lacks.
TEST(TypeInfoNames, MembersIgnoreCaseAndParametersAreTheTypeInformations) {
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    ITypeLib* library = nullptr;
    ASSERT_EQ(LoadTypeLibEx(self, REGKIND_NONE, &library), S_OK);
    ITypeInfo* info = nullptr;
    ASSERT_EQ(library->GetTypeInfoOfGuid(IID_IHardLink, &info), S_OK);
    library->Release();
    auto* cache = new NameCacheEntry[1]{{SysAllocString(L"Extra"), 5, 42}};
    TypeInfoHolder holder = {&IID_IHardLink, &kKestruneLibraryId, 1, 0, info, cache, 1, 1};
    const struct { std::vector<const wchar_t*> names; HRESULT result; DISPID first; } cases[] = {{{L"EXTRA"}, S_OK, 42}, {{L"Extra", L"Extra"}, DISP_E_UNKNOWNNAME, -1}, {{L"nosuch"}, DISP_E_UNKNOWNNAME, -1}};
    for (const auto& c : cases) {
        DISPID ids[2] = {-1, -1};
        EXPECT_EQ(holder.GetIDsOfNames(const_cast<LPOLESTR*>(c.names.data()), static_cast<UINT>(c.names.size()), 0, ids), c.result) << Narrow(c.names[0]) << c.names.size();
        if (c.result == S_OK) EXPECT_EQ(ids[0], c.first) << Narrow(c.names[0]);
    }
    TypeInfoHolder::Cleanup(reinterpret_cast<DWORD_PTR>(&holder));
}

} // namespace
} // namespace kestrune::testing
