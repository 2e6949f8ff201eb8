// The mount scene of the ReparsePoint tests: folders that exist on the test volume K: and on
// Wine's drive K: alike (the real folder browser picks them), a junction, a volume mount.
#pragma once
#include <gtest/gtest.h>

#include <shlobj.h>

#include <string>
#include <vector>

#include "ntfs/volumes/volumes.h"
#include "server/com_object.h"
#include "server/module.h"
#include "shell/reparsepoint/elevation.h"
#include "shell/reparsepoint/reparsepoint_object.h"
#include <shellapi.h>
#include "tests/com/hdrop_data_object.h"
#include "tests/com/message_box_watcher.h"
#include "tests/fake/leak_checked_test.h"

namespace kestrune::testing {

struct Said {
    const wchar_t* text;
    LPCWSTR icon; // IDI_HAND, IDI_EXCLAMATION, IDI_ASTERISK
};
inline const Said kSet = {L"リパースポイントを設定しました。", IDI_ASTERISK};
inline const Said kNotSet = {L"リパースポイントを設定出来ませんでした。", IDI_HAND};
inline const Said kSelf = {L"自分自身をマウントすること出来ません。", IDI_HAND};
inline const Said kAncestor = {L"選択したフォルダはこのリパースポイントの上位フォルダになります。\nこのようなディレクトリ構造はNTFS "
                               L"に対応していないアプリケーションの予期しない動作を\n誘発する恐れがありますが、続行しますか？",
                               IDI_EXCLAMATION};

inline const Said kNotLocal = {L"ネットワークドライブなど、ローカルドライブ以外のフォルダはマウントできません。\n"
                               L"このコンピュータの固定ディスクかリムーバブルディスク上のフォルダを指定して下さい。", IDI_HAND};

inline const Said kDeclined = {L"管理者としての実行が許可されなかったため、何も変更しませんでした。", IDI_EXCLAMATION};

// The elevated helper as the tests run it: its command line parsed as the helper's runtime parses
// it and run in this process with an elevated token; or the prompt declined.
struct FakeElevation {
    static inline std::vector<std::wstring> commands;
    static inline bool declines = false;
    static DWORD Run(HWND, const wchar_t* program, const wchar_t* parameters) {
        std::wstring name = program;
        EXPECT_EQ(name.substr(name.rfind(L'\\') + 1), L"kestrune-elevated.exe");
        commands.push_back(parameters);
        if (declines) return ERROR_CANCELLED;
        int argc = 0;
        wchar_t** argv = CommandLineToArgvW((name + L" " + parameters).c_str(), &argc);
        FakeVolumeSet::Active()->SetElevated(true);
        DWORD result = RunElevatedCommand(argc - 1, argv + 1);
        FakeVolumeSet::Active()->SetElevated(false);
        LocalFree(argv);
        return result;
    }
};

inline void ExpectSaid(const std::vector<SeenMessage>& seen, const std::vector<Said>& expected,
                       const std::wstring& title = L"Kestrune") {
    ASSERT_EQ(seen.size(), expected.size());
    for (size_t i = 0; i < seen.size(); ++i) {
        EXPECT_EQ(seen[i].text, expected[i].text) << "message " << i;
        EXPECT_EQ(seen[i].title, title);
        EXPECT_EQ(seen[i].icon, LoadIconW(nullptr, expected[i].icon)) << "message " << i;
    }
}

inline std::wstring Upper(std::wstring text) {
    CharUpperBuffW(text.data(), static_cast<DWORD>(text.size()));
    return text;
}

inline bool EqualPath(const std::wstring& a, const std::wstring& b) { return Upper(a) == Upper(b); }

class ReparseFixture : public LeakCheckedTest {
protected:
    ReparseFixture() {
        volumes.AddVolume(L'K');
        volumeC = volumes.AddVolume(L'C');
        volumes.AddVolume(L'F', VolumeOptions{L"FAT"});
        for (std::wstring* path : {&root, &folder, &data, &other, &junction, &volumeMount}) {
            *path = (path == &root ? L"K:\\mount-" + std::to_wstring(GetCurrentProcessId()) : root + *path);
            CreateDirectoryW(path->c_str(), nullptr);
            volumes.MakeFolder(*path);
        }
        volumes.MakeJunction(junction, data);
        volumes.MakeMount(volumeMount, volumeC);
        locksBefore = Module().lockCount;
        FakeElevation::commands.clear();
    }
    ~ReparseFixture() override {
        ReplaceElevationApi(previousElevation);
        for (auto* path : {&volumeMount, &junction, &other, &data, &folder, &root}) RemoveDirectoryW(path->c_str());
        EXPECT_EQ(Module().lockCount, locksBefore) << "module lock left behind";
    }

    template <typename I> I* New(REFIID iid = __uuidof(I)) {
        I* object = nullptr;
        EXPECT_EQ(CreateComObject<ReparsePointObject>(nullptr, iid, reinterpret_cast<void**>(&object)), S_OK);
        return object;
    }
    // An object initialised with the one selected `path`, asked for interface I.
    template <typename I> I* Selected(const std::wstring& path) {
        IShellExtInit* init = New<IShellExtInit>();
        HDropDataObject selection({path});
        EXPECT_EQ(init->Initialize(nullptr, &selection, nullptr), S_OK) << Narrow(path);
        I* wanted = nullptr;
        init->QueryInterface(__uuidof(I), reinterpret_cast<void**>(&wanted));
        init->Release();
        return wanted;
    }
    static HRESULT Invoke(IContextMenu* menu, HWND owner = nullptr, LPCSTR verb = nullptr) {
        CMINVOKECOMMANDINFO info = {sizeof info, 0, owner, verb, nullptr, nullptr, 0, 0, nullptr};
        return menu->InvokeCommand(&info);
    }
    // Runs the item of the one selected `path`, as Explorer does for a window `owner`.
    HRESULT RunItem(const std::wstring& path, HWND owner = nullptr) {
        IContextMenu* menu = Selected<IContextMenu>(path);
        HRESULT result = Invoke(menu, owner);
        menu->Release();
        return result;
    }
    // What is mounted on `path` now, as its reparse data names it; empty for nothing.
    std::wstring Target(const std::wstring& path) {
        std::vector<uint8_t> bytes = volumes.ReparseData(path);
        if (bytes.size() < 16) return L"";
        std::wstring name(reinterpret_cast<const wchar_t*>(bytes.data() + 16), (bytes[10] | bytes[11] << 8) / 2);
        return name.substr(4); // after "\??\"
    }
    std::wstring VolumeOf(wchar_t letter) {
        wchar_t name[MAX_PATH] = {};
        volumes.Api().GetVolumeNameForVolumeMountPointW((std::wstring(1, letter) + L":\\").c_str(), name, MAX_PATH);
        return std::wstring(name).substr(4);
    }

    std::wstring volumeC;
    std::wstring root, folder = L"\\x", data = L"\\data", other = L"\\other", junction = L"\\junction",
                       volumeMount = L"\\volume";
    LONG locksBefore = 0;
    const ElevationApi fakeElevation = {FakeElevation::Run};
    const ElevationApi* previousElevation = ReplaceElevationApi(&fakeElevation);
};

} // namespace kestrune::testing
