// The PropNTFS page in a real modeless property sheet on the test volumes: links, the worker,
// streams, and every failure the page must tell.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>

#include "kestrune_h.h"
#include "ntfs/kernel_override.h"
#include "server/com_object.h"
#include "server/module.h"
#include "shell/propntfs/file_dialogs.h"
#include "shell/propntfs/propntfs_object.h"
#include "tests/com/hdrop_data_object.h"
#include "tests/fake/leak_checked_test.h"
#include "tests/shell/page_driver.h"

namespace kestrune::testing {
namespace {

const std::wstring kItem = L"D:\\docs\\item.txt";

// Faults over the volume set: opens of paths holding a marker get handles whose writes fail or
// whose reads end early; and a stream of kHugeSize bytes whose copy is only counted.
constexpr uint64_t kHugeSize = (4ull << 30) + 3;
struct Faults {
    static inline const KernelApi* fake = nullptr;
    static inline std::wstring failWrites, endReadsEarly;
    static inline std::set<HANDLE> writeFails, shortReads;
    static inline std::map<HANDLE, uint64_t> huge; // read position
    static inline HANDLE sink = nullptr;
    static inline uint64_t sunk = 0;
    static HANDLE WINAPI Open(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                              DWORD disposition, DWORD flags, HANDLE model) {
        HANDLE h = fake->CreateFileW(path, access, share, security, disposition, flags, model);
        std::wstring p = path ? path : L"";
        if (!failWrites.empty() && p.find(failWrites) != std::wstring::npos) writeFails.insert(h);
        if (!endReadsEarly.empty() && p.find(endReadsEarly) != std::wstring::npos) shortReads.insert(h);
        if (p.find(L":huge") != std::wstring::npos) huge[h] = 0;
        if (p.find(L"huge-copy") != std::wstring::npos) sink = h;
        return h;
    }
    static BOOL WINAPI Write(HANDLE h, LPCVOID data, DWORD bytes, LPDWORD written, LPOVERLAPPED overlapped) {
        if (h == sink && bytes && static_cast<const char*>(data)[bytes - 1] == 'H') sunk += *written = bytes;
        if (h == sink) return TRUE;
        if (!writeFails.count(h)) return fake->WriteFile(h, data, bytes, written, overlapped);
        *written = 0;
        SetLastError(ERROR_DISK_FULL);
        return FALSE;
    }
    static BOOL WINAPI Read(HANDLE h, LPVOID data, DWORD bytes, LPDWORD read, LPOVERLAPPED overlapped) {
        if (huge.count(h)) {
            *read = static_cast<DWORD>(std::min<uint64_t>(bytes, kHugeSize - huge[h]));
            memset(data, 'H', *read);
            huge[h] += *read;
            return TRUE;
        }
        if (!shortReads.count(h)) return fake->ReadFile(h, data, bytes, read, overlapped);
        *read = 0;
        return TRUE;
    }
    static BOOL WINAPI SizeEx(HANDLE h, PLARGE_INTEGER size) {
        if (!huge.count(h)) return fake->GetFileSizeEx(h, size);
        size->QuadPart = kHugeSize;
        return TRUE;
    }
};

class PropertyPage : public LeakCheckedTest {
protected:
    PropertyPage() {
        volumes.AddVolume(L'D');
        volumes.AddVolume(L'F', VolumeOptions{L"FAT"});
        volumes.MakeFolder(L"D:\\docs");
        volumes.MakeFile(kItem, "item");
        Faults::fake = &volumes.Api();
        // Handle values start anew with every volume set.
        Faults::failWrites = Faults::endReadsEarly = L"";
        Faults::writeFails.clear();
        Faults::shortReads.clear();
        Faults::huge.clear();
        Faults::sink = nullptr;
        api_ = volumes.Api();
        api_.CreateFileW = Faults::Open;
        api_.WriteFile = Faults::Write;
        api_.ReadFile = Faults::Read;
        api_.GetFileSizeEx = Faults::SizeEx;
        previous_ = ReplaceKernelApi(&api_);
        locks_ = Module().lockCount;
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        realTemp_ = temp;
        // The common dialogs see the real folder; the page opens the same path on the test volumes.
        volumes.AddVolume(realTemp_[0]);
        for (size_t end = realTemp_.find(L'\\', 3); end != std::wstring::npos; end = realTemp_.find(L'\\', end + 1))
            volumes.MakeFolder(realTemp_.substr(0, end));
    }
    ~PropertyPage() override {
        ReplaceKernelApi(previous_);
        EXPECT_EQ(Module().lockCount, locks_) << "module lock left behind";
    }
    void TearDown() override {
        Close();
        LeakCheckedTest::TearDown();
    }
    HRESULT Open(std::vector<std::wstring> items = {kItem}) {
        IShellExtInit* init = nullptr;
        EXPECT_EQ(CreateComObject<PropNtfsObject>(nullptr, IID_IShellExtInit, reinterpret_cast<void**>(&init)), S_OK);
        HDropDataObject data(std::move(items));
        HRESULT result = init->Initialize(nullptr, &data, nullptr);
        EXPECT_EQ(data.OutstandingMedia(), 0);
        if (result == S_OK) init->QueryInterface(IID_IShellPropSheetExt, reinterpret_cast<void**>(&extension_));
        init->Release();
        if (extension_) sheet = std::make_unique<Sheet>(extension_);
        return result;
    }
    void Close() {
        sheet.reset();
        if (extension_) extension_->Release();
        extension_ = nullptr;
    }
    bool Idle() {
        return PumpUntil([&] { return sheet->Text(kEnumerateButton) == kEnumerateText; });
    }
    std::string Content(const std::wstring& path) {
        HANDLE h = volumes.Api().CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                             FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (h == INVALID_HANDLE_VALUE) return "<missing>";
        std::string content;
        char chunk[65536];
        DWORD read = 0;
        while (volumes.Api().ReadFile(h, chunk, sizeof chunk, &read, nullptr) && read) content.append(chunk, read);
        volumes.Api().CloseHandle(h);
        return content;
    }
    // 10 x 10 folders sharing `files` files, scanned before the item's own folder.
    void BuildTree(int files) {
        for (int a = 0; a < 100; ++a) {
            std::wstring folder = L"D:\\a" + std::to_wstring(a);
            volumes.MakeFolder(folder);
            for (int f = 0; f < files / 100; ++f) volumes.MakeFile(folder + L"\\f" + std::to_wstring(f));
        }
    }

    std::unique_ptr<Sheet> sheet;
    IShellPropSheetExt* extension_ = nullptr;
    std::wstring realTemp_;
    KernelApi api_{};
    const KernelApi* previous_ = nullptr;
    LONG locks_ = 0;
};

TEST_F(PropertyPage, OnlyOneItemOnNtfsGetsThePage) {
    volumes.MakeFile(L"F:\\fat.txt");
    volumes.MakeFile(L"D:\\docs\\second.txt");
    struct Case {
        std::vector<std::wstring> items;
        HRESULT expected;
    } cases[] = {
        {{kItem}, S_OK},
        {{L"D:\\docs"}, S_OK}, // folders too
        {{}, E_INVALIDARG},
        {{kItem, L"D:\\docs\\second.txt"}, E_INVALIDARG},
        {{L"F:\\fat.txt"}, E_INVALIDARG},
        {{L"D:\\docs\\" + std::wstring(300, L'x')}, E_INVALIDARG},
    };
    for (auto& c : cases) {
        EXPECT_EQ(Open(c.items), c.expected) << Narrow(c.items.empty() ? L"" : c.items[0]);
        EXPECT_EQ(sheet != nullptr && sheet->page != nullptr, c.expected == S_OK);
        Close();
    }
    IShellExtInit* init = nullptr;
    CreateComObject<PropNtfsObject>(nullptr, IID_IShellExtInit, reinterpret_cast<void**>(&init));
    HDropDataObject refusing({kItem}, true);
    EXPECT_EQ(init->Initialize(nullptr, nullptr, nullptr), E_INVALIDARG);
    EXPECT_EQ(init->Initialize(nullptr, &refusing, nullptr), E_FAIL);
    IShellPropSheetExt* extension = nullptr;
    init->QueryInterface(IID_IShellPropSheetExt, reinterpret_cast<void**>(&extension));
    EXPECT_EQ(extension->ReplacePage(0, nullptr, 0), E_NOTIMPL);
    // A refused page gives the page's reference back exactly once.
    auto refuse = [](HPROPSHEETPAGE, LPARAM) -> BOOL { return FALSE; };
    EXPECT_EQ(extension->AddPages(refuse, 0), S_OK);
    EXPECT_EQ(extension->AddRef(), 3u);
    extension->Release();
    extension->Release();
    EXPECT_EQ(init->Release(), 0u);
}

TEST_F(PropertyPage, TheLabelAndTheEnumerationShowEveryLink) {
    volumes.MakeFile(L"D:\\linked.txt");
    volumes.MakeLink(L"D:\\linked.txt", L"D:\\docs\\second.txt");
    struct Case {
        std::wstring item;
        std::wstring label;
        std::vector<std::wstring> links;
        std::wstring message;
    } cases[] = {
        {kItem, L"リンク数 : 1", {kItem}, L""},
        {L"D:\\docs\\second.txt", L"リンク数 : 2", {L"D:\\docs\\second.txt", L"D:\\linked.txt"}, L""},
        {L"D:\\docs", L"リンク数 : -1", {}, kEnumerationFailedText},
    };
    for (auto& c : cases) {
        ASSERT_EQ(Open({c.item}), S_OK);
        EXPECT_EQ(sheet->Text(kLinkCountLabel), c.label);
        DialogScript script({Press(IDOK)});
        sheet->Command(kEnumerateButton);
        EXPECT_TRUE(Idle());
        std::vector<std::wstring> links = sheet->Items(kLinkList);
        std::sort(links.begin(), links.end());
        EXPECT_EQ(links, c.links);
        EXPECT_EQ(script.seen.size(), c.message.empty() ? 0u : 1u);
        if (!script.seen.empty()) EXPECT_TRUE(script.seen[0].error && script.seen[0].text == c.message);
        Close();
    }
}

TEST_F(PropertyPage, AScanStopsAtTheButtonOrWhenTheSheetCloses) {
    BuildTree(100000);
    for (bool closeSheet : {false, true}) {
        volumes.ResetStats();
        ASSERT_EQ(Open(), S_OK);
        volumes.MakeLink(kItem, L"D:\\docs\\link.txt");
        sheet->Command(kEnumerateButton);
        EXPECT_EQ(sheet->Text(kEnumerateButton), kStopText);
        EXPECT_GT(Module().lockCount, locks_ + 1) << "the worker holds the module";
        if (closeSheet) {
            Close(); // returns once the worker has ended
        } else {
            sheet->Command(kEnumerateButton);
            EXPECT_TRUE(Idle());
            EXPECT_TRUE(sheet->Items(kLinkList).empty());
            Close();
        }
        EXPECT_LT(volumes.Stats().findNexts, 50000) << "the scan went on";
        EXPECT_EQ(Module().lockCount, locks_);
        ExpectNothingLeaked(closeSheet ? "after closing" : "after stopping");
        volumes.Remove(L"D:\\docs\\link.txt");
    }
}

TEST_F(PropertyPage, AWorkerThatCannotStartLeavesTheButtonUsable) {
    volumes.MakeLink(kItem, L"D:\\second.txt");
    ASSERT_EQ(Open(), S_OK);
    api_.CreateEventW = [](LPSECURITY_ATTRIBUTES, BOOL, BOOL, LPCWSTR) -> HANDLE { return nullptr; };
    DialogScript script({Press(IDOK)});
    sheet->Command(kEnumerateButton);
    ASSERT_EQ(script.seen.size(), 1u);
    EXPECT_TRUE(script.seen[0].error && script.seen[0].text == kEnumerationFailedText);
    EXPECT_EQ(sheet->Text(kEnumerateButton), kEnumerateText);
    EXPECT_EQ(Module().lockCount, locks_ + 1) << "only the object's own lock";
    api_.CreateEventW = volumes.Api().CreateEventW;
    sheet->Command(kEnumerateButton);
    EXPECT_TRUE(Idle());
    EXPECT_EQ(sheet->Items(kLinkList).size(), 2u);
}

TEST_F(PropertyPage, DeletingALinkAsksOnceAndTheLastLinkTwice) {
    volumes.MakeStream(kItem, L"s", "stream");
    struct Case {
        int links;
        std::vector<Answer> answers;
        size_t questions;
        bool deleted;
        std::wstring label;
    } cases[] = {
        {3, {No()}, 1, false, L"リンク数 : 3"},
        {3, {Yes()}, 1, true, L"リンク数 : 2"},
        {1, {Yes(), No()}, 2, false, L"リンク数 : 1"},
        {1, {Yes(), Yes()}, 2, true, L"リンク数 : 0"},
    };
    for (auto& c : cases) {
        if (c.links == 3) {
            volumes.MakeLink(kItem, L"D:\\b.txt");
            volumes.MakeLink(kItem, L"D:\\c.txt");
        }
        ASSERT_EQ(Open(), S_OK);
        sheet->Command(kEnumerateButton);
        ASSERT_TRUE(Idle());
        std::vector<std::wstring> items = sheet->Items(kLinkList);
        size_t listed = items.size();
        std::wstring target = c.links == 3 ? L"D:\\c.txt" : kItem;
        sheet->Select(kLinkList, static_cast<int>(std::find(items.begin(), items.end(), target) - items.begin()));
        DialogScript script(c.answers);
        sheet->Command(kDeleteLinkButton);
        ASSERT_EQ(script.seen.size(), c.questions);
        EXPECT_EQ(script.seen[0].text, kDeleteLinkQuestion);
        if (c.questions == 2) EXPECT_EQ(script.seen[1].text, kLastLinkQuestion);
        EXPECT_EQ(volumes.Exists(target), !c.deleted);
        EXPECT_EQ(sheet->Items(kLinkList).size(), listed - (c.deleted ? 1 : 0));
        EXPECT_EQ(sheet->Text(kLinkCountLabel), c.label);
        EXPECT_EQ(sheet->Items(kStreamList).empty(), c.links == 1 && c.answers.size() == 2 && c.deleted);
        Close();
        for (const wchar_t* link : {L"D:\\b.txt", L"D:\\c.txt"})
            if (volumes.Exists(link)) volumes.Remove(link);
    }
}

TEST_F(PropertyPage, StreamsListPreviewAndDelete) {
    volumes.MakeStream(kItem, L"s1", std::string("ab\0c", 4));
    volumes.MakeStreamOfSize(kItem, L"big", 5000);
    ASSERT_EQ(Open(), S_OK);
    EXPECT_EQ(sheet->Items(kStreamList), (std::vector<std::wstring>{L"s1", L"big"}));
    sheet->Select(kStreamList, 0);
    EXPECT_EQ(sheet->Text(kStreamPreview), L"ab c");
    sheet->Select(kStreamList, 1);
    EXPECT_EQ(sheet->Text(kStreamPreview), std::wstring(1024, L'Z'));
    // Deletion: a No keeps it, a stream in use is told, a Yes removes it from the list and the file.
    HANDLE busy = volumes.Api().CreateFileW((kItem + L":big").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0,
                                            nullptr);
    DialogScript script({No(), Yes(), Press(IDOK), Yes()});
    sheet->Command(kDeleteStreamButton);
    sheet->Command(kDeleteStreamButton);
    volumes.Api().CloseHandle(busy);
    EXPECT_EQ(sheet->Items(kStreamList).size(), 2u);
    sheet->Command(kDeleteStreamButton);
    ASSERT_EQ(script.seen.size(), 4u);
    EXPECT_EQ(script.seen[0].text, kDeleteStreamQuestion);
    EXPECT_TRUE(script.seen[2].error && script.seen[2].text == kDeleteFailedText);
    EXPECT_EQ(sheet->Items(kStreamList), std::vector<std::wstring>{L"s1"});
    EXPECT_EQ(sheet->Text(kStreamPreview), L"");
    EXPECT_EQ(volumes.StreamNames(kItem), std::vector<std::wstring>{L"s1"});
}

// Records the grey state of the three items each time the edit menu opens, and closes it.
struct MenuWatch {
    static inline std::vector<std::vector<bool>> grayed;
    static LRESULT CALLBACK Hook(int code, WPARAM wParam, LPARAM lParam) {
        auto* message = reinterpret_cast<CWPSTRUCT*>(lParam);
        if (code == HC_ACTION && message->message == WM_INITMENUPOPUP) {
            std::vector<bool> states;
            for (UINT id : {kNewStreamCommand, kSaveStreamCommand, kRenameStreamCommand})
                states.push_back(GetMenuState(reinterpret_cast<HMENU>(message->wParam), id, MF_BYCOMMAND) & MF_GRAYED);
            grayed.push_back(states);
            PostMessageW(message->hwnd, WM_CANCELMODE, 0, 0);
        }
        return CallNextHookEx(nullptr, code, wParam, lParam);
    }
};

TEST_F(PropertyPage, SavingAndRenamingNeedASelectedStream) {
    volumes.MakeStream(kItem, L"s1", "one");
    ASSERT_EQ(Open(), S_OK);
    HHOOK hook = SetWindowsHookExW(WH_CALLWNDPROC, MenuWatch::Hook, nullptr, GetCurrentThreadId());
    sheet->Command(kEditStreamButton);
    sheet->Select(kStreamList, 0);
    sheet->Command(kEditStreamButton);
    UnhookWindowsHookEx(hook);
    EXPECT_EQ(MenuWatch::grayed, (std::vector<std::vector<bool>>{{false, true, true}, {false, false, false}}));
}

TEST_F(PropertyPage, NewStreamFromAFile) {
    std::wstring source = realTemp_ + L"kestrune-source-" + std::to_wstring(GetCurrentProcessId()) + L".txt";
    CloseHandle(CreateFileW(source.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    ASSERT_EQ(Open(), S_OK);
    struct Case {
        bool onVolume;
        std::wstring failWrites;
        std::wstring message;
        std::vector<std::wstring> streams;
    } cases[] = {
        {false, L"", kFileOpenFailedText, {}},
        {true, L"note", kStreamWriteFailedText, {}},
        {true, L"", L"", {L" note"}},
    };
    for (auto& c : cases) {
        if (c.onVolume && !volumes.Exists(source)) volumes.MakeFile(source, std::string(70000, 'q'));
        Faults::failWrites = c.failWrites;
        DialogScript script({Type(source), Type(L"note"), Press(IDOK)});
        sheet->Command(kNewStreamCommand);
        std::wstring told = script.seen.back().title == L"Kestrune" ? script.seen.back().text : L"";
        EXPECT_EQ(told, c.message) << Narrow(told);
        EXPECT_EQ(volumes.StreamNames(kItem), c.streams);
    }
    EXPECT_EQ(sheet->Items(kStreamList), std::vector<std::wstring>{L" note"});
    EXPECT_TRUE(Content(kItem + L": note") == std::string(70000, 'q'));
    sheet->Select(kStreamList, 0);
    EXPECT_EQ(sheet->Text(kStreamPreview), std::wstring(1024, L'q'));
    DeleteFileW(source.c_str());
}

TEST_F(PropertyPage, SaveProposesTheNameSeriesAndTellsEveryFailure) {
    volumes.MakeStreamOfSize(kItem, L"s1", 300000);
    ASSERT_EQ(Open(), S_OK);
    sheet->Select(kStreamList, 0);
    std::wstring target = realTemp_ + L"kestrune-saved.bin";
    volumes.MakeFolder(realTemp_ + L"kestrune-folder.bin"); // a name the real folder does not hold
    struct Case {
        std::wstring typed;
        std::wstring proposed;
        std::wstring endReadsEarly;
        long long failAllocation;
        std::wstring message;
    } cases[] = {
        {target, L"item.txt.Stream1", L"", 0, L""},
        {realTemp_ + L"kestrune-folder.bin", L"item.txt.Stream2", L"", 0, kFileCreateFailedText},
        {target, L"item.txt.Stream2", L":s1", 0, kStreamReadFailedText},
        {target, L"item.txt.Stream2", L"", 1, kOutOfMemoryText},
    };
    for (auto& c : cases) {
        Faults::endReadsEarly = c.endReadsEarly;
        DialogScript script({Type(c.typed), Press(IDOK)});
        volumes.ResetStats();
        volumes.FailAllocationAt(c.failAllocation);
        sheet->Command(kSaveStreamCommand);
        volumes.FailAllocationAt(0);
        ASSERT_GE(script.seen.size(), 1u);
        EXPECT_EQ(script.seen[0].text.substr(script.seen[0].text.rfind(L'\\') + 1), c.proposed);
        EXPECT_EQ(script.seen.size() > 1 ? script.seen[1].text : L"", c.message);
        EXPECT_LE(volumes.Stats().peakBytes, 2 * 65536) << "the copy holds more than its chunk";
        EXPECT_TRUE(Content(target) == (c.message.empty() ? std::string(300000, 'Z') : "<missing>"));
        if (c.message.empty()) volumes.MakeFile(kItem + L".Stream1"); // the next proposal is Stream2
        if (c.message.empty()) volumes.Remove(target);
    }
}

TEST_F(PropertyPage, AStreamOf4GiBAndMoreIsSavedWholeThroughOneChunk) {
    volumes.MakeStream(kItem, L"huge", "");
    ASSERT_EQ(Open(), S_OK);
    sheet->Select(kStreamList, 0);
    DialogScript script({Type(realTemp_ + L"huge-copy.bin")});
    volumes.ResetStats();
    Faults::sunk = 0;
    sheet->Command(kSaveStreamCommand);
    EXPECT_EQ(script.seen.size(), 1u) << "a message";
    EXPECT_EQ(Faults::sunk, kHugeSize);
    EXPECT_LE(volumes.Stats().peakBytes, 65536);
}

TEST_F(PropertyPage, RenameKeepsTheContentWhateverHappens) {
    struct Case {
        std::wstring listed;
        std::vector<Answer> answers;
        std::wstring failWrites;
        std::vector<std::wstring> streams;
        std::vector<std::wstring> messages;
    } cases[] = {
        {L"s1", {Type(L""), Press(IDOK), Type(L"a:b"), Press(IDOK), Type(L"t")}, L"",
         {L" t"}, {kEmptyNameText, kInvalidNameText}},
        {L" note", {Type(L"note")}, L"", {L" note"}, {}},
        {L"s1", {Type(L"t"), Press(IDOK)}, L": t", {L"s1"}, {kRenameKeptOldText}},
        {L"s1", {Type(std::wstring(300, L'n')), Press(IDOK), Type(L"t")}, L"", {L" t"}, {kNameTooLongText}},
        {L"s1", {Press(IDCANCEL)}, L"", {L"s1"}, {}},
    };
    for (auto& c : cases) {
        volumes.MakeStream(kItem, c.listed, std::string(100000, 'r'));
        ASSERT_EQ(Open(), S_OK);
        sheet->Select(kStreamList, 0);
        Faults::failWrites = c.failWrites;
        DialogScript script(c.answers);
        sheet->Command(kRenameStreamCommand);
        std::vector<std::wstring> told;
        for (auto& s : script.seen)
            if (s.title == L"Kestrune") told.push_back(s.text);
        EXPECT_EQ(told, c.messages);
        EXPECT_EQ(script.Unused(), 0u);
        EXPECT_EQ(volumes.StreamNames(kItem), c.streams);
        EXPECT_EQ(sheet->Items(kStreamList), c.streams);
        EXPECT_TRUE(Content(kItem + L":" + c.streams[0]) == std::string(100000, 'r'));
        Close();
        volumes.Remove(kItem);
        volumes.MakeFile(kItem, "item");
    }
}

TEST(FileDialogFilter, TheListStaysInItsBufferWhateverTheExtraFilter) {
    using namespace std::string_literals;
    struct Case {
        std::wstring extra;
        std::wstring expected;
    } cases[] = {
        {L"", L"All files(*.*)\0*.*\0\0"s},
        {L"Text|*.txt", L"Text\0*.txt\0All files(*.*)\0*.*\0\0"s},
        {std::wstring(300, L'x') + L"|*.x", L"All files(*.*)\0*.*\0\0"s}, // too long: left out, not cut
    };
    for (auto& c : cases) {
        wchar_t filter[kFilterChars];
        wmemset(filter, L'#', kFilterChars);
        BuildFileFilter(filter, c.extra.empty() ? nullptr : c.extra.c_str());
        EXPECT_EQ(std::wstring(filter, c.expected.size()), c.expected);
    }
}

} // namespace
} // namespace kestrune::testing
