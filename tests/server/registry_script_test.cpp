// The registration-script interpreter against Wine's registry, confined to a scratch key.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "server/last_error.h"
#include "server/registry_script.h"
#include "tests/fake/leak_checked_test.h"
#include "tests/server/failing_malloc_spy.h"
#include "tests/server/scratch_registry.h"

namespace kestrune::testing {
namespace {

DWORD CountSubkeys(HKEY key) {
    DWORD subkeys = 0;
    RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                     nullptr);
    return subkeys;
}

// Wine hands out the lowest free handle slot: while every key is closed again, a probe key
// opens in the same slot before and after a run. (Its GetProcessHandleCount always says 0.)
HKEY FreeKeySlot() {
    HKEY probe = nullptr;
    RegOpenKeyExW(HKEY_CURRENT_USER, L"Software", 0, KEY_READ, &probe);
    RegCloseKey(probe);
    return probe;
}

// The real roots, counted before any script runs and checked after the randomized run.
DWORD realClassesKeys = 0, realMachineKeys = 0;

TEST(RegistryScriptRealRoots, CountedBeforeAnyScript) {
    realClassesKeys = CountSubkeys(HKEY_CLASSES_ROOT);
    realMachineKeys = CountSubkeys(HKEY_LOCAL_MACHINE);
    EXPECT_GT(realClassesKeys, 0u);
}

class RegistryScript : public ::testing::Test {
protected:
    RegistryScript() : scratch(L"RegistryScript") {
        map.Add(L"Module", L"C:\\it''s\\Kestrune.dll");
        map.Add(L"module", L"second entry of the same name is never used");
    }
    HRESULT Register(const std::wstring& script) { return RunScript(script.c_str(), TRUE, map); }
    HRESULT Remove(const std::wstring& script) { return RunScript(script.c_str(), FALSE, map); }
    std::wstring Dump() { return scratch.Dump(); }
    ScratchRegistry scratch;
    ReplacementMap map;
};

TEST_F(RegistryScript, PercentVariablesAreReplaced) {
    ASSERT_EQ(Register(L"HKCR { K = s '%MODULE% 100%% %module%' }"), S_OK);
    EXPECT_EQ(Dump(), L"K\nK : @ = s 'C:\\it's\\Kestrune.dll 100% C:\\it's\\Kestrune.dll'\n");
    EXPECT_EQ(Register(L"HKCR { K = s '%Unknown%' }"), kMalformedScript);
    EXPECT_EQ(Register(L"HKCR { K = s '%MODULE' }"), kMalformedScript);
    EXPECT_EQ(Register(L"HKCR { K = s '%" + std::wstring(32, L'x') + L"%' }"), E_FAIL);
    EXPECT_EQ(Register(L"HKCR { K = s '%" + std::wstring(31, L'x') + L"%' }"), kMalformedScript); // fits, unknown
}

TEST_F(RegistryScript, KeywordsAndTypesIgnoreCase) {
    ASSERT_EQ(Register(L"hkcr { K { VAL a = S 'x'\r\n\tval b = s 'y'\n vAl c = d '10' } }"), S_OK);
    EXPECT_EQ(Dump(), L"K\nK : a = s 'x'\nK : b = s 'y'\nK : c = type 4 bytes 10 0 0 0\n");
    ASSERT_EQ(Register(L"HKEY_CLASSES_ROOT { Other }"), S_OK);
    EXPECT_NE(Dump().find(L"Other\n"), std::wstring::npos);
}

TEST_F(RegistryScript, BinaryValuesAreHexPairs) {
    ASSERT_EQ(Register(L"HKCR { K { val a = b '0aFF' val b = b '0g' val c = b '' } }"), S_OK);
    EXPECT_EQ(Dump(), L"K\nK : a = type 3 bytes 10 255\nK : b = type 3 bytes 0\nK : c = type 3 bytes\n");
    EXPECT_EQ(Register(L"HKCR { Odd { val a = b 'abc' } }"), E_FAIL);
    EXPECT_EQ(Dump().find(L"Odd"), std::wstring::npos) << "the failing block was rolled back";
}

TEST_F(RegistryScript, NumbersThatAreNoNumbersAreRefused) {
    EXPECT_TRUE(FAILED(Register(L"HKCR { N { val a = d 'ten' } }")));
    EXPECT_EQ(Dump(), L"");
}

TEST_F(RegistryScript, DoubledQuotesStandForOne) {
    ASSERT_EQ(Register(L"HKCR { 'it''s' = s 'a ''quoted'' text' }"), S_OK);
    EXPECT_EQ(Dump(), L"it's\nit's : @ = s 'a 'quoted' text'\n");
}

TEST_F(RegistryScript, AFailureTakesBackEverythingTheRunWroteAndOnlyThat) {
    ASSERT_EQ(Register(L"HKCR { Kept = s 'k' }"), S_OK);
    ASSERT_EQ(Register(L"HKCR { Kept { val v = s 'x' } }\r\nHKCR { Fresh { Inner = s 'i' } Bad = x 'v' }"), kMalformedScript);
    EXPECT_EQ(Dump(), L"Kept\nKept : @ = s 'k'\n");
    ASSERT_EQ(Register(L"HKCR { NoRemove Shared { Mine = s 'm' } Broken { a\\b } }"), kMalformedScript);
    EXPECT_EQ(Dump(), L"Kept\nKept : @ = s 'k'\n");
}

// A registry that refuses a write fails the run with the refusal, and the run leaves nothing.
TEST_F(RegistryScript, ARefusedRegistryCallFailsTheRunAndUndoesIt) {
    ASSERT_TRUE(scratch.Refuse(L"Locked"));
    const std::wstring before = Dump();
    const struct { const wchar_t* script; BOOL doRegister; } cases[] = {
        {L"HKCR { New { X } Locked = s 'v' }", TRUE},
        {L"HKCR { First } HKCR { Locked { val v = s 'x' } }", TRUE},
        {L"HKCR { New ForceRemove Locked }", TRUE},
        {L"HKCR { New Delete Locked }", TRUE},
        {L"HKCR { Locked }", FALSE},
        {L"HKCR { Locked { val stale = s 'x' } }", FALSE},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(RunScript(c.script, c.doRegister, map), HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED)) << Narrow(c.script);
        EXPECT_EQ(Dump(), before) << Narrow(c.script);
    }
}

TEST_F(RegistryScript, MalformedScriptsAreRefused) {
    for (const wchar_t* script : {L"HKXX { K }", L"HKCR{ K }", L"HKCR K }", L"HKCR { K", L"HKCR { K = s 'open }",
                                  L"HKCR { K = x 'v' }", L"HKCR { K { val v s 'x' } }", L"HKCR { a\\b }",
                                  L"HKCR { ForceRemove a\\b }", L"HKCR { K = s 'v' } HKLM", L"hkcr }"})
        EXPECT_TRUE(FAILED(Register(script))) << Narrow(script);
    EXPECT_EQ(Register(L""), S_OK);
    EXPECT_EQ(Register(L" \r\n\t "), S_OK);
    EXPECT_EQ(Remove(L""), S_OK);
}

TEST_F(RegistryScript, TokensThatDoNotFitTheirBuffersAreRefused) {
    EXPECT_EQ(Register(L"HKCR { K = s '" + std::wstring(4094, L'v') + L"' }"), S_OK);
    EXPECT_EQ(Register(L"HKCR { K = s '" + std::wstring(4095, L'v') + L"' }"), kMalformedScript);
    EXPECT_EQ(Register(L"HKCR { K { val " + std::wstring(259, L'n') + L" = s 'x' } }"), S_OK);
    EXPECT_EQ(Register(L"HKCR { K { val " + std::wstring(260, L'n') + L" = s 'x' } }"), kMalformedScript);
    EXPECT_EQ(Register(L"HKCR { " + std::wstring(5000, L'k') + L" }"), kMalformedScript);
    std::wstring deep = L"HKCR { ";
    for (int i = 0; i < 100; ++i) deep += L"K { ";
    for (int i = 0; i < 101; ++i) deep += L"} ";
    EXPECT_EQ(Register(deep), kMalformedScript);
}

TEST_F(RegistryScript, ForceRemoveRebuildsAKeyButNeverAProtectedOne) {
    ASSERT_EQ(Register(L"HKCR { CLSID { Old = s 'o' } Thing { Old = s 'o' } }"), S_OK);
    ASSERT_EQ(Register(L"HKCR { ForceRemove CLSID { New } ForceRemove Thing { New } Delete typelib }"), S_OK);
    EXPECT_EQ(Dump(), L"CLSID\nCLSID\\New\nCLSID\\Old\nCLSID\\Old : @ = s 'o'\nThing\nThing\\New\n");
    ASSERT_EQ(Remove(L"HKCR { NoRemove CLSID { New } }"), S_OK);
    EXPECT_EQ(Dump(), L"CLSID\nCLSID\\Old\nCLSID\\Old : @ = s 'o'\nThing\nThing\\New\n");
}

TEST_F(RegistryScript, RemovalLeavesKeysWithUnlistedContent) {
    ASSERT_EQ(Register(L"HKCR { Top { Listed { Deep } Unlisted } Same { Same } Plain }"), S_OK);
    ASSERT_EQ(Remove(L"HKCR { Top { Listed { Deep } } Same Plain = s 'x' }"), S_OK);
    // Top keeps its unlisted child; a key whose child bears its own name is left whole.
    EXPECT_EQ(Dump(), L"Same\nSame\\Same\nTop\nTop\\Unlisted\n");
    ASSERT_EQ(Remove(L"HKCR { Absent { Deeper } Gone = s 'x' }"), S_OK);
    EXPECT_EQ(Dump(), L"Same\nSame\\Same\nTop\nTop\\Unlisted\n");
}

TEST_F(RegistryScript, NoRemoveProtectsItsOwnKeyOnly) {
    ASSERT_EQ(Register(L"HKCR { A B C }"), S_OK);
    ASSERT_EQ(Remove(L"HKCR { A NoRemove B C }"), S_OK);
    EXPECT_EQ(Dump(), L"B\n");
}

TEST_F(RegistryScript, AMissingKeyWithoutABlockReadsOverTheRestOfItsBody) {
    ASSERT_EQ(Register(L"HKCR { Later Values { val v = s 'x' } }"), S_OK);
    ASSERT_EQ(Remove(L"HKCR { Missing Later Values { val v = s 'x' } }"), S_OK);
    EXPECT_EQ(Dump(), L"Later\nValues\nValues : v = s 'x'\n");
    ASSERT_EQ(Remove(L"HKCR { Missing { Later } Later Values { val v = s 'x' } }"), S_OK);
    EXPECT_EQ(Dump(), L"");
}

TEST_F(RegistryScript, NestedBlocksAfterDeleteOrValBelongToTheCurrentKey) {
    ASSERT_EQ(Register(L"HKCR { K = s 'k' Delete Nothing { Under } }"), S_OK);
    EXPECT_EQ(Dump(), L"K\nK : @ = s 'k'\nK\\Under\n");
    EXPECT_EQ(Register(L"HKCR { val v = s 'x' { Orphan } }"), kMalformedScript);
}

// An empty key name opens its parent, which a delete would then wipe: such scripts are refused
// before any key is touched, and a rolled-back block removes only the keys it created.
TEST_F(RegistryScript, EmptyKeyNamesAndRollbacksNeverDeleteWhatExisted) {
    map.Add(L"Empty", L"");
    ASSERT_EQ(Register(L"HKCR { Keep { val v = s 'k' Child } Leaf }"), S_OK);
    const std::wstring before = Dump();
    const struct {
        const wchar_t* script;
        BOOL doRegister;
        HRESULT result;
    } cases[] = {
        {L"HKCR { Keep { ForceRemove '' } }", TRUE, kMalformedScript},
        {L"HKCR { Delete '' }", TRUE, kMalformedScript},
        {L"HKCR { New } HKCR { Keep { ForceRemove '%EMPTY%' } }", TRUE, kMalformedScript},
        {L"HKCR { NoRemove Keep { '' } }", FALSE, kMalformedScript},
        {L"HKCR { Keep Leaf { Fresh { val n = d 'ten' } } }", TRUE, DISP_E_TYPEMISMATCH},
        {L"HKCR { Leaf Fresh { Bad = x 'v' } }", TRUE, kMalformedScript},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(RunScript(c.script, c.doRegister, map), c.result) << Narrow(c.script);
        EXPECT_EQ(Dump(), before) << Narrow(c.script);
        ASSERT_EQ(Register(L"HKCR { Keep { val v = s 'k' Child } Leaf }"), S_OK);
    }
}

// A script that cannot be loaded is a failure, also when the system left no error code.
TEST(RegistryScriptLoading, EveryFailureIsReportedAsOne) {
    ReplacementMap map;
    const struct {
        const wchar_t* file;
        HRESULT result;
    } cases[] = {
        {L"C:\\windows\\no such Kestrune.dll", HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)},
        {L"C:\\windows\\win.ini", HRESULT_FROM_WIN32(ERROR_BAD_EXE_FORMAT)},
        {L"C:\\windows\\system32\\kernel32.dll", HRESULT_FROM_WIN32(ERROR_RESOURCE_TYPE_NOT_FOUND)},
    };
    for (const auto& c : cases) EXPECT_EQ(ApplyScriptResource(c.file, 101, TRUE, map), c.result) << Narrow(c.file);
    SetLastError(0);
    EXPECT_EQ(LastErrorResult(), E_FAIL);
}

TEST_F(RegistryScript, EveryTaskAllocatorFailureIsCleanAndReported) {
    // A script long enough to make the preprocessed text grow past its first buffer.
    std::wstring script = L"HKCR { K = s '%MODULE%%MODULE%%MODULE%%MODULE%%MODULE%%MODULE%' }";
    int failures = 0;
    FailingMallocSpy& spy = FailingMallocSpy::Registered();
    size_t outstandingBefore = spy.Outstanding();
    for (long long n = 1; n < 100; ++n) {
        spy.Arm(n);
        HRESULT added = S_OK;
        HRESULT result = S_OK;
        {
            ReplacementMap local;
            added = local.Add(L"Module", L"C:\\a rather long path to the library\\Kestrune.dll");
            if (SUCCEEDED(added)) result = RunScript(script.c_str(), TRUE, local);
        }
        bool failed = spy.Failed();
        spy.Arm(0);
        EXPECT_EQ(spy.Outstanding(), outstandingBefore) << "task-allocator blocks leaked at failure " << n;
        if (!failed) {
            EXPECT_EQ(result, S_OK);
            break;
        }
        ++failures;
        EXPECT_TRUE(added == E_OUTOFMEMORY || result == E_OUTOFMEMORY) << "failure " << n << " went unreported";
        EXPECT_EQ(Dump(), L"") << "nothing is written when the text cannot be prepared";
    }
    EXPECT_GE(failures, 5); // the pair array, the two copies, the text and its growth
    EXPECT_NE(Dump().find(L"K\n"), std::wstring::npos);
}

TEST_F(RegistryScript, RandomlyMutatedScriptsNeverEscapeTheScratchKey) {
    const std::wstring original =
        L"HKCR\r\n{\r\n\tKestrune.HardLink.1 = s 'HardLink Class'\r\n\t{\r\n\t\tCLSID = s '{839443F4}'\r\n\t}\r\n"
        L"\tNoRemove CLSID\r\n\t{\r\n\t\tForceRemove {839443F4} = s 'HardLink Class'\r\n\t\t{\r\n"
        L"\t\t\tForceRemove 'Programmable'\r\n\t\t\tInprocServer32 = s '%MODULE%'\r\n\t\t\t{\r\n"
        L"\t\t\t\tval ThreadingModel = s 'Apartment'\r\n\t\t\t\tval n = d '1'\r\n\t\t\t\tval b = b '0aff'\r\n"
        L"\t\t\t}\r\n\t\t}\r\n\t}\r\n\tDelete Old\r\n}\r\n";
    // No letters that could spell a root outside the scratch keys (HKCU, HKU, HKCC, HKPD).
    const wchar_t alphabet[] = L"{}'%=\\ \r\n\tsdbSDBvalNoRemvDltHKLMx0";
    std::mt19937 random(20261208);
    HKEY slotBefore = FreeKeySlot();
    for (int round = 0; round < 3000; ++round) {
        std::wstring script = original;
        int edits = 1 + static_cast<int>(random() % 4);
        for (int e = 0; e < edits; ++e) {
            size_t at = random() % (script.size() + 1);
            switch (random() % 4) {
            case 0: script.insert(at, 1, alphabet[random() % (sizeof alphabet / sizeof *alphabet - 1)]); break;
            case 1: if (at < script.size()) script.erase(at, 1 + random() % 8); break;
            case 2: if (at < script.size()) script[at] = alphabet[random() % (sizeof alphabet / sizeof *alphabet - 1)]; break;
            default: script.resize(at); break;
            }
        }
        RunScript(script.c_str(), TRUE, map);
        RunScript(script.c_str(), FALSE, map);
    }
    EXPECT_EQ(FreeKeySlot(), slotBefore) << "a key was left open";
}

TEST(RegistryScriptRealRoots, UnchangedAfterTheScripts) {
    EXPECT_EQ(CountSubkeys(HKEY_CLASSES_ROOT), realClassesKeys) << "a script wrote beside the scratch key";
    EXPECT_EQ(CountSubkeys(HKEY_LOCAL_MACHINE), realMachineKeys);
}

TEST(RegistryScriptHandles, AKeyLeftOpenMovesTheFreeSlot) {
    HKEY before = FreeKeySlot();
    HKEY leaked = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software", 0, KEY_READ, &leaked), ERROR_SUCCESS);
    EXPECT_NE(FreeKeySlot(), before) << "the leak check of the randomized test relies on this";
    RegCloseKey(leaked);
    EXPECT_EQ(FreeKeySlot(), before);
}

} // namespace
} // namespace kestrune::testing
