// The PropNTFS page in a real modeless property sheet on the test volumes: links, the worker,
// streams, and every failure the page must tell.
#include <gtest/gtest.h>

#include <functional>
#include <algorithm>
#include <map>
#include <memory>
#include <utility>

#include "ntfs/kernel_override.h"
#include "server/com_object.h"
#include "shell/propntfs/propntfs_object.h"
#include "tests/com/hdrop_data_object.h"
#include "tests/fake/leak_checked_test.h"
#include "tests/shell/change_watcher.h"
#include "tests/shell/page_driver.h"

namespace kestrune::testing {
namespace {

using Texts = std::vector<std::wstring>;
std::wstring Ui(UINT id) { return std::wstring(UiText(id)); } // the table's text in the test's language
const std::wstring kItem = L"D:\\docs\\item.txt";
constexpr uint64_t kHugeSize = (4ull << 30) + 3;

// Faults by path over the volume set: writes that fail, reads that end early, a source of
// kHugeSize bytes, a target that only counts the bytes reaching it, a source read slowly; a later
// marker's None takes back an earlier marker's fault.
enum class Fault { FailWrites, EndEarly, Huge, Count, Slow, None };
struct Faults {
    static inline std::vector<std::pair<std::wstring, Fault>> byPath;
    static inline std::map<HANDLE, Fault> open;
    static inline uint64_t hugeRead, counted;
    static HANDLE WINAPI Create(LPCWSTR path, DWORD a, DWORD s, LPSECURITY_ATTRIBUTES sa, DWORD d, DWORD f, HANDLE t) {
        HANDLE h = Fake().CreateFileW(path, a, s, sa, d, f, t);
        for (auto& [marker, fault] : byPath)
            if (!marker.empty() && wcsstr(path, marker.c_str())) open[h] = fault;
        return h;
    }
    static const KernelApi& Fake() { return FakeVolumeSet::Active()->Api(); }
    static bool Is(HANDLE h, Fault fault) { return open.count(h) && open[h] == fault; }
    static BOOL WINAPI Read(HANDLE h, LPVOID data, DWORD bytes, LPDWORD read, LPOVERLAPPED o) {
        if (Is(h, Fault::Slow)) Sleep(25);
        if (!Is(h, Fault::Huge) && !Is(h, Fault::EndEarly)) return Fake().ReadFile(h, data, bytes, read, o);
        *read = Is(h, Fault::Huge) ? static_cast<DWORD>(std::min<uint64_t>(bytes, kHugeSize - hugeRead)) : 0;
        memset(data, 'H', *read);
        hugeRead += *read;
        return TRUE;
    }
    static BOOL WINAPI Write(HANDLE h, LPCVOID data, DWORD bytes, LPDWORD written, LPOVERLAPPED o) {
        if (!Is(h, Fault::Count) && !Is(h, Fault::FailWrites)) return Fake().WriteFile(h, data, bytes, written, o);
        *written = Is(h, Fault::Count) ? bytes : 0;
        counted += *written;
        return Is(h, Fault::Count);
    }
    static BOOL WINAPI SizeEx(HANDLE h, PLARGE_INTEGER size) {
        return Is(h, Fault::Huge) ? (size->QuadPart = kHugeSize, TRUE) : Fake().GetFileSizeEx(h, size);
    }
};

class PropertyPage : public LeakCheckedTest {
protected:
    PropertyPage() {
        volumes.AddVolume(L'D');
        volumes.AddVolume(L'F', VolumeOptions{L"FAT"});
        volumes.MakeFolder(L"D:\\docs");
        volumes.MakeFile(kItem, "item");
        Faults::byPath.clear();
        Faults::open.clear(); // handle values start anew with each volume set
        api_ = volumes.Api();
        api_.CreateFileW = Faults::Create;
        api_.ReadFile = Faults::Read;
        api_.WriteFile = Faults::Write;
        api_.GetFileSizeEx = Faults::SizeEx;
        previous_ = ReplaceKernelApi(&api_);
        wchar_t temp[MAX_PATH];
        temp_.assign(temp, GetTempPathW(MAX_PATH, temp));
        // The common dialogs see the real folder; the page opens the same path on the test volumes.
        volumes.AddVolume(temp_[0]);
        for (size_t end = temp_.find(L'\\', 3); end != std::wstring::npos; end = temp_.find(L'\\', end + 1))
            volumes.MakeFolder(temp_.substr(0, end));
    }
    ~PropertyPage() override {
        ReplaceKernelApi(previous_);
        EXPECT_EQ(Module().lockCount, locks_) << "module lock left behind";
    }
    void TearDown() override {
        Close();
        LeakCheckedTest::TearDown();
    }
    HRESULT Open(Texts items = {kItem}) {
        IShellExtInit* init = nullptr;
        CreateComObject<PropNtfsObject>(nullptr, IID_IShellExtInit, reinterpret_cast<void**>(&init));
        HDropDataObject data(std::move(items));
        HRESULT result = init->Initialize(nullptr, &data, nullptr);
        if (result == S_OK) init->QueryInterface(IID_IShellPropSheetExt, reinterpret_cast<void**>(&extension));
        init->Release();
        if (extension) sheet = std::make_unique<Sheet>(extension);
        return result;
    }
    void Close() {
        sheet.reset();
        if (extension) extension->Release();
        extension = nullptr;
    }
    bool Idle() { return PumpUntil([&] { return sheet->Text(kEnumerateButton) == Ui(kEnumerateText); }); }
    std::string Content(const std::wstring& path) {
        HANDLE h = volumes.Api().CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        std::string content(1 << 20, '\0');
        DWORD read = 0;
        volumes.Api().ReadFile(h, content.data(), 1 << 20, &read, nullptr);
        volumes.Api().CloseHandle(h);
        return content.substr(0, read);
    }

    std::unique_ptr<Sheet> sheet;
    IShellPropSheetExt* extension = nullptr;
    std::wstring temp_;
    KernelApi api_{};
    const KernelApi* previous_ = nullptr;
    LONG locks_ = Module().lockCount;
};

TEST_F(PropertyPage, ARefusedPageIsReleasedOnceAndAFatItemGetsNone) {
    volumes.MakeFile(L"F:\\fat.txt");
    EXPECT_EQ(Open({L"F:\\fat.txt"}), E_INVALIDARG);
    CreateComObject<PropNtfsObject>(nullptr, IID_IShellPropSheetExt, reinterpret_cast<void**>(&extension));
    EXPECT_EQ(extension->AddPages([](HPROPSHEETPAGE, LPARAM) -> BOOL { return FALSE; }, 0), S_OK);
    EXPECT_EQ(extension->AddRef(), 2u) << "the page's reference went with the refused page";
    extension->Release();
}

// Windows may write into an indirect page's template: the page gets a writable copy, not the
// library's read-only resource. Seen where the library calls comctl32, in the import table.
extern "C" HPROPSHEETPAGE(WINAPI* __imp_CreatePropertySheetPageW)(LPCPROPSHEETPAGEW);
struct TemplateSpy {
    static inline decltype(__imp_CreatePropertySheetPageW) real = nullptr;
    static inline MEMORY_BASIC_INFORMATION seen{};
    static HPROPSHEETPAGE WINAPI Create(LPCPROPSHEETPAGEW page) { return VirtualQuery(page->pResource, &seen, sizeof seen), real(page); }
};
TEST_F(PropertyPage, ThePageTemplateIsAWritableCopy) {
    DWORD was = 0;
    ASSERT_TRUE(VirtualProtect(&__imp_CreatePropertySheetPageW, sizeof(void*), PAGE_READWRITE, &was));
    TemplateSpy::real = std::exchange(__imp_CreatePropertySheetPageW, TemplateSpy::Create);
    EXPECT_EQ(Open(), S_OK);
    __imp_CreatePropertySheetPageW = TemplateSpy::real;
    EXPECT_EQ(TemplateSpy::seen.Protect, DWORD{PAGE_READWRITE});
    EXPECT_NE(TemplateSpy::seen.AllocationBase, GetModuleHandleW(nullptr)) << "inside the library's image";
}

// F1 and a right click are the page's: passed on, the sheet (and Explorer) would open help too.
TEST_F(PropertyPage, HelpRequestsEndAtThePage) {
    ASSERT_EQ(Open(), S_OK);
    HELPINFO info = {sizeof info, HELPINFO_WINDOW, -1, nullptr, 0, {}};
    EXPECT_EQ(SendMessageW(sheet->page, WM_HELP, 0, reinterpret_cast<LPARAM>(&info)), TRUE);
    EXPECT_EQ(SendMessageW(sheet->page, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(sheet->page), MAKELPARAM(-1, -1)), TRUE);
}

// The label, the links the worker lists, and deleting one of them (the target, with the answers): once
// asked, or twice for the last.
TEST_F(PropertyPage, LinksAreCountedListedAndDeleted) {
    volumes.MakeStream(kItem, L"s", "stream");
    volumes.MakeStream(L"D:\\docs", L"s", "stream");
    volumes.MakeLink(kItem, L"D:\\b.txt");
    volumes.AddShare(L"\\\\srv\\s");
    volumes.MakeFile(L"\\\\srv\\s\\n.txt");
    volumes.MakeStream(L"\\\\srv\\s\\n.txt", L"s", "stream");
    volumes.MakeLink(L"\\\\srv\\s\\n.txt", L"\\\\srv\\s\\m.txt");
    api_.FindFirstFileNameW = nullptr; // the server lists no names, and a share is never walked
    const std::wstring ask = Ui(kDeleteLinkQuestion), last = Ui(kLastLinkQuestion);
    struct Case { std::wstring item, label; std::set<std::wstring> links; std::wstring target; std::vector<Answer> answers;
                  Texts told; std::wstring labelAfter; } cases[] = {
        {L"D:\\docs", L"リンク数 : 1", {L"D:\\docs"}, L"D:\\docs", {Press(IDNO)}, {ask}, L"リンク数 : 1"}, // a folder's own count
        {L"\\\\srv\\s\\n.txt", L"リンク数 : 2", {}, L"", {}, {Ui(kNetworkLinksText)}, L"リンク数 : 2"},
        {kItem, L"リンク数 : 2", {kItem, L"D:\\b.txt"}, L"D:\\b.txt", {Press(IDNO)}, {ask}, L"リンク数 : 2"},
        {kItem, L"リンク数 : 2", {kItem, L"D:\\b.txt"}, L"D:\\b.txt", {Press(IDYES)}, {ask}, L"リンク数 : 1"},
        {kItem, L"リンク数 : 1", {kItem}, kItem, {Press(IDYES), Press(IDNO)}, {ask, last}, L"リンク数 : 1"},
        {kItem, L"リンク数 : 1", {kItem}, kItem, {Press(IDYES), Press(IDYES)}, {ask, last}, L"リンク数 : 0"}};
    for (auto& c : cases) {
        SCOPED_TRACE("row " + std::to_string(&c - cases));
        ASSERT_EQ(Open({c.item}), S_OK);
        EXPECT_EQ(sheet->Text(kLinkCountLabel), c.label);
        DialogScript script(c.answers);
        sheet->Command(kEnumerateButton);
        EXPECT_TRUE(Idle());
        EXPECT_EQ(sheet->Items<std::set<std::wstring>>(kLinkList), c.links);
        sheet->Select(kLinkList, c.target);
        ChangeWatcher shell;
        sheet->Command(kDeleteLinkButton);
        EXPECT_EQ(script.told, c.told);
        // Explorer hears of the path gone and of the file's other paths, whose count changed.
        std::vector<std::pair<LONG, std::wstring>> notices;
        if (!c.answers.empty() && c.answers.back().button == IDYES) notices = {{SHCNE_DELETE, c.target}};
        for (auto& link : c.links) if (!notices.empty() && link != c.target) notices.emplace_back(SHCNE_UPDATEITEM, link);
        EXPECT_EQ(shell.Drain(), notices);
        EXPECT_EQ(sheet->Text(kLinkCountLabel), c.labelAfter);
        EXPECT_EQ(c.target.empty() || volumes.Exists(c.target), c.answers.empty() || c.answers.back().button == IDNO);
        EXPECT_EQ(sheet->Items(kStreamList).empty(), c.labelAfter != L"リンク数 : 1" && c.labelAfter != L"リンク数 : 2");
        Close();
    }
    // A worker that cannot start leaves the button as it was.
    volumes.MakeFile(kItem);
    ASSERT_EQ(Open(), S_OK);
    api_.CreateEventW = [](LPSECURITY_ATTRIBUTES, BOOL, BOOL, LPCWSTR) -> HANDLE { return nullptr; };
    DialogScript script({});
    sheet->Command(kEnumerateButton);
    EXPECT_EQ(script.told, Texts{Ui(kEnumerationFailedText)});
    api_.CreateEventW = volumes.Api().CreateEventW;
    sheet->Command(kEnumerateButton);
    EXPECT_TRUE(Idle() && sheet->Items(kLinkList).size() == 1u);
}

TEST_F(PropertyPage, AScanStopsAtTheButtonOrWhenTheSheetCloses) {
    for (int a = 0; a < 100; ++a) {
        volumes.MakeFolder(L"D:\\a" + std::to_wstring(a));
        for (int f = 0; f < 1000; ++f) volumes.MakeFile(L"D:\\a" + std::to_wstring(a) + L"\\f" + std::to_wstring(f));
    }
    volumes.MakeLink(kItem, L"D:\\docs\\link.txt");
    api_.FindFirstFileNameW = nullptr; // the scan itself, which takes long enough to be stopped
    for (bool closeSheet : {false, true}) {
        SCOPED_TRACE(closeSheet ? "closing the sheet" : "pressing the button");
        volumes.ResetStats();
        ASSERT_EQ(Open(), S_OK);
        sheet->Command(kEnumerateButton);
        EXPECT_EQ(sheet->Text(kEnumerateButton), Ui(kStopText));
        EXPECT_EQ(Module().lockCount, locks_ + 3) << "the object's lock, the page's and the worker's own";
        if (!closeSheet) sheet->Command(kEnumerateButton);
        EXPECT_TRUE(closeSheet || (Idle() && sheet->Items(kLinkList).empty()));
        Close(); // the object goes only once the worker has ended
        EXPECT_LT(volumes.Stats().findNexts, 50000) << "the scan of 100,000 files went on";
        ExpectNothingLeaked(closeSheet ? "after closing" : "after stopping");
        EXPECT_EQ(Module().lockCount, locks_);
    }
}

TEST_F(PropertyPage, StreamsListPreviewDeletionAndTheEditMenu) {
    volumes.MakeStream(kItem, L"s1", std::string("ab\0c", 4));
    volumes.MakeStreamOfSize(kItem, L"big", 5000);
    ASSERT_EQ(Open(), S_OK);
    EXPECT_EQ(sheet->Items(kStreamList), (Texts{L"s1", L"big"}));
    static std::vector<bool> grayed; // new, save and rename, per opening of the menu, which is closed at once
    HHOOK hook = SetWindowsHookExW(WH_CALLWNDPROC, [](int code, WPARAM w, LPARAM l) -> LRESULT {
        auto* m = reinterpret_cast<CWPSTRUCT*>(l);
        if (m->message == WM_INITMENUPOPUP) {
            for (UINT id : {kNewStreamCommand, kSaveStreamCommand, kRenameStreamCommand})
                grayed.push_back(GetMenuState(reinterpret_cast<HMENU>(m->wParam), id, MF_BYCOMMAND) & MF_GRAYED);
            PostMessageW(m->hwnd, WM_CANCELMODE, 0, 0);
        }
        return CallNextHookEx(nullptr, code, w, l);
    }, nullptr, GetCurrentThreadId());
    sheet->Command(kEditStreamButton);
    sheet->Select(kStreamList, L"s1");
    EXPECT_EQ(sheet->Text(kStreamPreview), L"ab c");
    sheet->Command(kEditStreamButton);
    UnhookWindowsHookEx(hook);
    EXPECT_EQ(grayed, (std::vector<bool>{false, true, true, false, false, false}));
    sheet->Select(kStreamList, L"big");
    EXPECT_EQ(sheet->Text(kStreamPreview), std::wstring(1024, L'Z'));
    HANDLE busy = volumes.Api().CreateFileW((kItem + L":big").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    DialogScript script({Press(IDNO), Press(IDYES), Press(IDOK), Press(IDYES)});
    sheet->Command(kDeleteStreamButton);
    sheet->Command(kDeleteStreamButton); // in use
    volumes.Api().CloseHandle(busy);
    EXPECT_EQ(sheet->Items(kStreamList).size(), 2u);
    sheet->Command(kDeleteStreamButton);
    EXPECT_EQ(script.told, (Texts{Ui(kDeleteStreamQuestion), Ui(kDeleteStreamQuestion), Ui(kStreamInUseText), Ui(kDeleteStreamQuestion)}));
    EXPECT_EQ(script.errors, (std::vector<bool>{false, false, true, false}));
    EXPECT_EQ(sheet->Items(kStreamList), Texts{L"s1"});
    EXPECT_EQ(sheet->Text(kStreamPreview), L"");
}

// New, save and rename of a stream made with the content: what the user is told, the name the save
// dialog offers, and where the content is afterwards.
TEST_F(PropertyPage, ContentMovesWholeOrNotAtAll) {
    const std::wstring source = temp_ + L"kestrune-source.txt", saved = temp_ + L"kestrune-saved.bin";
    const std::wstring folder = temp_ + L"kestrune-folder.bin", note = kItem + L":note", s1 = kItem + L":s1";
    CloseHandle(CreateFileW(source.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    const std::string content(300000, 'c');
    volumes.MakeFile(source, content);
    volumes.MakeFolder(folder); // the real folder holds no such name: the dialog lets it pass
    struct Case { int command; std::wstring stream; std::vector<Answer> answers; std::pair<std::wstring, Fault> fault;
                  std::wstring offered; Texts told; std::wstring where; Texts streams; bool renamesInPlace = true; } cases[] = {
        {kNewStreamCommand, L"s1", {Type(source), Type(L"note")}, {L":note", Fault::FailWrites}, L"",
         {Ui(kStreamWriteFailedText)}, s1, {L"s1"}},
        {kNewStreamCommand, L"s1", {Type(source), Type(L"note")}, {}, L"", {}, note, {L"s1", L"note"}},
        {kNewStreamCommand, L"s1", {Type(source), Type(L"s1")}, {}, L"", {Ui(kStreamExistsText)}, s1, {L"s1"}}, // not overwritten
        {kSaveStreamCommand, L"s1", {Type(saved)}, {}, L"item.txt.Stream1", {}, saved, {L"s1"}},
        {kSaveStreamCommand, L"s1", {Type(folder)}, {}, L"item.txt.Stream2", {Ui(kFileCreateFailedText)}, s1, {L"s1"}},
        {kSaveStreamCommand, L"s1", {Type(saved)}, {L":s1", Fault::EndEarly}, L"item.txt.Stream2",
         {Ui(kStreamReadFailedText)}, s1, {L"s1"}},
        {kRenameStreamCommand, L"s1", {Type(L"t")}, {L":t", Fault::FailWrites}, L"", {Ui(kRenameKeptOldText)}, s1, {L"s1"}, false},
        {kRenameStreamCommand, L"s1", {Type(L"t")}, {L":t", Fault::FailWrites}, L"", {}, kItem + L":t", {L"t"}}, // nothing written
        {kRenameStreamCommand, L"s1", {Type(L""), Press(IDOK), Type(L"a:b"), Press(IDOK), Type(std::wstring(300, L'n')),
         Press(IDOK), Type(std::wstring(256, L'n')), Press(IDOK), Type(L"note")}, {}, L"",
         {Ui(kEmptyNameText), Ui(kInvalidNameText), Ui(kNameTooLongText), Ui(kNameTooLongText)}, note, {L"note"}},
        {kRenameStreamCommand, L" note", {Type(L"note")}, {}, L"", {}, note, {L"note"}}}; // a leading space is its own name
    for (auto& c : cases) {
        SCOPED_TRACE("row " + std::to_string(&c - cases));
        volumes.MakeStream(kItem, c.stream, content);
        volumes.SetStreamRenames(L'D', c.renamesInPlace);
        ASSERT_EQ(Open(), S_OK);
        sheet->Select(kStreamList, c.stream);
        Faults::byPath = {c.fault};
        DialogScript script(c.answers);
        sheet->Command(c.command);
        EXPECT_EQ(script.told, c.told);
        EXPECT_EQ(script.offered.substr(script.offered.rfind(L'\\') + 1), c.offered);
        for (size_t i = 0; i < c.told.size() && i < script.errors.size(); ++i)
            EXPECT_EQ(script.errors[i], c.told[i] != Ui(kEmptyNameText)) << "an empty name is a warning, all else errors";
        EXPECT_TRUE(Content(c.where) == content) << Narrow(c.where);
        EXPECT_EQ(volumes.StreamNames(kItem), c.streams);
        EXPECT_EQ(sheet->Items(kStreamList), c.streams);
        EXPECT_EQ(volumes.Exists(saved), c.where == saved) << "a partial copy is left";
        Close();
        volumes.Remove(kItem);
        volumes.MakeFile(kItem, "item");
        if (c.where == saved) {
            volumes.Remove(saved);
            volumes.MakeFile(kItem + L".Stream1"); // the next offer: Stream2
        }
    }
    // A stream of 4 GiB and more is saved whole through one chunk; without the chunk it is refused.
    volumes.MakeStream(kItem, L"huge", "");
    Faults::byPath = {{L":huge", Fault::Huge}, {L"huge-copy", Fault::Count}};
    for (long long failAllocation : {0, 1}) {
        SCOPED_TRACE("failing allocation " + std::to_string(failAllocation));
        ASSERT_EQ(Open(), S_OK);
        sheet->Select(kStreamList, L"huge");
        DialogScript script({Type(temp_ + L"huge-copy.bin")});
        Faults::hugeRead = Faults::counted = 0;
        volumes.ResetStats();
        volumes.FailAllocationAt(failAllocation);
        sheet->Command(kSaveStreamCommand);
        EXPECT_EQ(Faults::counted, failAllocation ? 0 : kHugeSize);
        EXPECT_EQ(script.told, failAllocation ? Texts{Ui(kOutOfMemoryText)} : Texts{});
        EXPECT_LE(volumes.Stats().peakBytes, 65536 + 2 * 257 + 2 * MAX_PATH) << "more than one chunk (and the name and path) held";
        Close();
    }
    DeleteFileW(source.c_str());
}

// Names NTFS allows but nobody types, today's text in the preview, a name already taken, and a save
// that fails over an existing file.
TEST_F(PropertyPage, EveryStreamIsReachedByItsOwnNameAndNothingIsOverwritten) {
    const struct { std::wstring name; std::string content; std::wstring shown, preview; } rows[] = {
        {L"a", "plain a", L"a", L"plain a"},
        {L"a.", "dotted", L"a.", L"dotted"},
        {L"x\r\ny", "two lines", L"x\\x0D\\x0Ay", L"two lines"},
        {std::wstring(255, L'm'), "longest", std::wstring(255, L'm'), L"longest"},
        {L"utf16", std::string("\xFF\xFE\x41\0\x42\x30", 6), L"utf16", L"A\x3042"},
        {L"utf8", "\xE6\x97\xA5\xE6\x9C\xAC", L"utf8", L"\x65E5\x672C"},
        {L"cut8", std::string(1022, 'a') + "\xE6\x97\xA5", L"cut8", std::wstring(1022, L'a')},
        {L"cut16", std::string("\xFF\xFE" "A", 3) + std::string(1019, '\0') + std::string("\x3D\xD8\x00\xDE", 4), L"cut16",
         L"A" + std::wstring(509, L' ')},
    };
    Texts shown, left;
    for (auto& r : rows) volumes.MakeStream(kItem, r.name, r.content), shown.push_back(r.shown);
    ASSERT_EQ(Open(), S_OK);
    EXPECT_EQ(sheet->Items(kStreamList), shown);
    for (auto& r : rows) {
        sheet->Select(kStreamList, r.shown);
        EXPECT_EQ(sheet->Text(kStreamPreview), r.preview) << Narrow(r.shown);
        if (r.name != L"a.") left.push_back(r.name);
    }
    const std::wstring keep = temp_ + L"kestrune-keep.txt";
    volumes.MakeFile(keep, "keep");
    {
        Faults::byPath = {{L":a", Fault::EndEarly}};
        DialogScript script({Press(IDYES), Type(L"utf8"), Press(IDOK), Type(keep), Press(IDOK)});
        sheet->Select(kStreamList, L"a.");
        sheet->Command(kDeleteStreamButton);
        sheet->Select(kStreamList, L"a");
        sheet->Command(kRenameStreamCommand);
        sheet->Command(kSaveStreamCommand);
        EXPECT_EQ(script.told, (Texts{Ui(kDeleteStreamQuestion), Ui(kStreamExistsText), Ui(kStreamReadFailedText)}));
    }
    EXPECT_EQ(volumes.StreamNames(kItem), left) << "deleted, or renamed over, the wrong stream";
    EXPECT_TRUE(Content(kItem + L":a") == "plain a" && Content(kItem + L":utf8") == rows[5].content);
    EXPECT_TRUE(Content(keep) == "keep" && !volumes.Exists(keep + L".~1.tmp")) << "the file chosen to be replaced was lost";
}

// Opened through another path to the file, or with its path changed behind its back, the page lists
// the file's real paths, and a new stream lands on the file: never on a file made at a path.
TEST_F(PropertyPage, ThePageHoldsItsFileWhateverBecomesOfItsPath) {
    const std::wstring file = L"D:\\docs\\long report.txt", other = L"D:\\other.txt", renamed = L"D:\\docs\\renamed.txt";
    const std::wstring dotted = L"D:\\docs\\long report.txt.", spaced = L"D:\\x ", source = temp_ + L"kestrune-source.txt";
    CloseHandle(CreateFileW(source.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    volumes.MakeFile(source, "new");
    volumes.AddDriveAlias(L'S', L"D:\\docs");
    volumes.MakeJunction(L"D:\\j", L"D:\\docs");
    auto exact = [](const std::wstring& path) { return L"\\\\?\\" + path; };
    using Change = std::function<void(const KernelApi&)>;
    const Change none = [](const KernelApi&) {};
    const struct { const char* name; std::wstring opened; Change behind; std::set<std::wstring> links; std::wstring own, removed,
                   label; Texts told; } cases[] = { // own: the entry selected as the page's own name
        {"junction", L"D:\\j\\long report.txt", none, {file, other}, file, L"", L"リンク数 : 2", {}},
        {"SUBST drive", L"S:\\long report.txt", none, {file, other}, file, L"", L"リンク数 : 2", {}},
        {"short name", L"D:\\docs\\LONGRE~1.TXT", none, {file, other}, file, L"", L"リンク数 : 2", {}},
        {"name ending in a dot", dotted, none, {dotted, spaced}, dotted, spaced, L"リンク数 : 1", {Ui(kDeleteLinkQuestion)}},
        {"renamed", file, [&](const KernelApi& k) { k.MoveFileExW(file.c_str(), renamed.c_str(), 0); }, {renamed, other}, renamed,
         L"", L"リンク数 : 2", {}},
        {"own path deleted", file, [&](const KernelApi& k) { k.DeleteFileW(file.c_str()); }, {other}, other, L"", L"リンク数 : 1", {}},
        {"deleted", file, [&](const KernelApi& k) { k.DeleteFileW(file.c_str()), k.DeleteFileW(other.c_str()); }, {}, L"", L"",
         L"リンク数 : 0", {Ui(kFileGoneText)}}};
    for (auto& c : cases) {
        SCOPED_TRACE(c.name);
        volumes.MakeFile(file, "item");
        volumes.MakeLink(file, other);
        volumes.SetShortName(file, L"LONGRE~1.TXT");
        volumes.MakeFile(exact(dotted), "dotted");
        volumes.MakeLink(exact(dotted), exact(spaced));
        ASSERT_EQ(Open({c.opened}), S_OK);
        c.behind(volumes.Api());
        DialogScript script({Type(source), Type(L"n"), Press(IDYES)});
        sheet->Command(kEnumerateButton);
        EXPECT_TRUE(Idle());
        EXPECT_EQ(sheet->Items<std::set<std::wstring>>(kLinkList), c.links);
        LRESULT own = SendDlgItemMessageW(sheet->page, kLinkList, LB_GETCURSEL, 0, 0);
        EXPECT_EQ(own == LB_ERR ? L"" : sheet->Items(kLinkList).at(own), c.own);
        sheet->Command(kNewStreamCommand);
        for (auto& link : c.links) EXPECT_EQ(volumes.StreamNames(exact(link)), Texts{L"n"}) << Narrow(link);
        if (!c.removed.empty()) sheet->Select(kLinkList, c.removed), sheet->Command(kDeleteLinkButton);
        EXPECT_EQ(script.told, c.told);
        EXPECT_EQ(sheet->Text(kLinkCountLabel), c.label);
        EXPECT_TRUE(c.removed.empty() || !volumes.Exists(exact(c.removed)));
        EXPECT_TRUE(c.opened != file || c.links.count(file) || !volumes.Exists(file)) << "a file was made at a path";
        EXPECT_EQ(IsWindowEnabled(GetDlgItem(sheet->page, kStreamList)), !c.links.empty());
        Close();
        for (auto& path : {file, other, renamed, dotted, spaced}) if (volumes.Exists(exact(path))) volumes.Remove(exact(path));
    }
    DeleteFileW(source.c_str());
}

// A path longer than MAX_PATH names its file whole; the link search, which cannot take it, says so.
TEST_F(PropertyPage, APathLongerThanMaxPathIsTakenWhole) {
    const std::wstring folder = L"\\\\?\\D:\\docs\\" + std::wstring(200, L'f'), item = folder + L"\\" + std::wstring(100, L'i');
    volumes.MakeFolder(folder);
    volumes.MakeFile(item, "long");
    volumes.MakeStream(item, L"note", "a note");
    ASSERT_EQ(Open({item.substr(4)}), S_OK);
    EXPECT_EQ(sheet->Text(kLinkCountLabel), L"リンク数 : 1");
    DialogScript script({Press(IDOK), Type(L"memo"), Press(IDYES)});
    sheet->Command(kEnumerateButton);
    EXPECT_TRUE(Idle() && script.told == Texts{Ui(kLinksPathTooLongText)});
    // Its streams are listed, shown, renamed and deleted through the whole path.
    ASSERT_EQ(sheet->Items(kStreamList), Texts{L"note"});
    sheet->Select(kStreamList, L"note");
    EXPECT_EQ(sheet->Text(kStreamPreview), L"a note");
    sheet->Command(kRenameStreamCommand);
    EXPECT_EQ(volumes.StreamNames(item), Texts{L"memo"});
    sheet->Select(kStreamList, L"memo");
    sheet->Command(kDeleteStreamButton);
    EXPECT_TRUE(volumes.StreamNames(item).empty() && script.told.size() == 2u);
}

// A stream another program writes without sharing it, one the user may write but not delete (on
// volumes that rename in place and that do not), and an empty one: each step tells what stands in its way.
TEST_F(PropertyPage, HeldAndUndeletableStreamsAreToldAndLeftAsTheyWere) {
    const std::wstring saved = temp_ + L"kestrune-held.bin", inUse = Ui(kStreamInUseText), ask = Ui(kDeleteStreamQuestion);
    struct Case { std::wstring stream, preview; Texts told; } cases[] = {{L"held", Ui(kPreviewInUseText), {inUse, inUse, ask, inUse}},
        {L"fixed", L"fixed", {Ui(kRenameKeptOldText), ask, Ui(kDeleteFailedText)}}, {L"empty", L"", {}}};
    for (auto& c : cases) for (bool inPlace : {true, false}) {
        SCOPED_TRACE(Narrow(c.stream) + (inPlace ? " renamed in place" : " copied"));
        volumes.MakeStream(kItem, c.stream, c.stream == L"empty" ? "" : Narrow(c.stream));
        volumes.DenyStreamDelete(kItem, L"fixed");
        volumes.SetStreamRenames(L'D', inPlace);
        HANDLE writer = volumes.Api().CreateFileW((kItem + L":held").c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_EQ(Open(), S_OK);
        sheet->Select(kStreamList, c.stream);
        EXPECT_EQ(sheet->Text(kStreamPreview), c.preview);
        std::vector<Answer> answers = {Type(L"new"), Press(IDOK), Press(IDYES), Press(IDOK)};
        if (c.stream == L"held") answers.insert(answers.begin(), {Type(saved), Press(IDOK)});
        DialogScript script(c.told.empty() ? std::vector<Answer>{} : answers);
        for (int command : {kSaveStreamCommand, kRenameStreamCommand, kDeleteStreamButton})
            if (!c.told.empty() && (command != kSaveStreamCommand || c.stream == L"held")) sheet->Command(command);
        EXPECT_EQ(script.told, c.told);
        EXPECT_TRUE(volumes.StreamNames(kItem) == Texts{c.stream} && !volumes.Exists(saved)) << "a copy or a loss";
        if (writer != INVALID_HANDLE_VALUE) volumes.Api().CloseHandle(writer);
        Close();
        volumes.Remove(kItem);
        volumes.MakeFile(kItem, "item");
    }
}

// Saving over a file writes its content: its other link shows it, its stream and attributes stay.
// A slow copy shows its progress after about a second while the page's thread runs on, and a cancel
// there leaves the file and the streams as they were, with nothing beside.
TEST_F(PropertyPage, SavingOverAFileRewritesThatFileAndACancelLeavesItBe) {
    const std::wstring target = temp_ + L"kestrune-target.txt", link = temp_ + L"kestrune-link.txt", source = temp_ + L"kestrune-slow.txt";
    for (auto& real : {target, source}) CloseHandle(CreateFileW(real.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    volumes.MakeStreamOfSize(kItem, L"big", 8 << 20);
    volumes.MakeStream(kItem, L"short", "new");
    volumes.MakeFile(source, std::string(8 << 20, 's'));
    static int ticks;
    const std::wstring former = target + L".~former1.tmp";
    struct Case {
        int command; std::wstring stream; std::vector<Answer> answers; bool slow; std::string content;
        uint64_t room = 0; bool targetFails = false; std::wstring error = L""; // room left on the temp drive (0: plenty)
    } cases[] = {
        {kSaveStreamCommand, L"short", {Type(target), Press(IDYES)}, false, "new"},
        {kSaveStreamCommand, L"big", {Type(target), Press(IDYES), Press(IDCANCEL)}, true, "old content"},
        {kNewStreamCommand, L"big", {Type(source), Type(L"copy"), Press(IDCANCEL)}, true, "old content"},
        {kSaveStreamCommand, L"big", {Type(target), Press(IDYES), Press(IDOK)}, false, "old content", (9 << 20), false,
         Ui(kFileWriteFailedText)}, // the disk fills up part way: put back
        {kSaveStreamCommand, L"short", {Type(target), Press(IDYES), Press(IDOK)}, false, "old content", 0, true,
         Ui(kFormerContentKeptText) + L"\n" + former}};
    for (auto& c : cases) {
        SCOPED_TRACE("row " + std::to_string(&c - cases));
        volumes.MakeFile(target, "old content");
        volumes.MakeLink(target, link);
        volumes.MakeStream(target, L"mine", "kept");
        volumes.AddAttributes(target, FILE_ATTRIBUTE_HIDDEN);
        ASSERT_EQ(Open(), S_OK);
        sheet->Select(kStreamList, c.stream);
        Faults::byPath = {{c.slow ? L":big" : L"", Fault::Slow}, {c.slow ? source : L"", Fault::Slow},
                          {c.targetFails ? target : L"", Fault::FailWrites}, {L".tmp", Fault::None}};
        volumes.SetFreeBytes(temp_[0], c.room ? c.room : 1ull << 40);
        ticks = 0;
        UINT_PTR timer = SetTimer(nullptr, 0, 50, [](HWND, UINT, UINT_PTR, DWORD) { ++ticks; });
        DialogScript script(c.answers);
        sheet->Command(c.command);
        KillTimer(nullptr, timer);
        EXPECT_EQ(std::count(script.errors.begin(), script.errors.end(), true), c.error.empty() ? 0 : 1) << "failures told";
        EXPECT_EQ(script.errors.empty() || !script.errors.back() ? L"" : script.told.back(), c.error);
        EXPECT_EQ(script.progressShown, c.slow ? 1 : 0);
        EXPECT_TRUE(!c.slow || ticks > 5) << "the page's thread waited for the copy";
        EXPECT_TRUE(Content(link) == c.content && Content(target + L":mine") == "kept");
        EXPECT_TRUE((volumes.Attributes(target) & FILE_ATTRIBUTE_HIDDEN) && !volumes.Exists(target + L".~1.tmp"));
        EXPECT_EQ(volumes.Exists(former) ? Content(former) : "", c.targetFails ? "old content" : "");
        if (volumes.Exists(former)) volumes.Remove(former);
        EXPECT_EQ(volumes.StreamNames(kItem), (Texts{L"big", L"short"}));
        Close();
        volumes.Remove(link);
        volumes.Remove(target);
    }
    for (auto& real : {target, source}) DeleteFileW(real.c_str());
}

} // namespace
} // namespace kestrune::testing
