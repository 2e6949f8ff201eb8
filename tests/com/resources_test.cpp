// The built DLL's resources: exact texts, icons, version, registry scripts and type library.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>
#include <vfw.h>

#include <algorithm>
#include <map>
#include <cstring>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "kestrune_h.h"
#include "tests/com/dll_module.h"
#include "tests/fake/leak_checked_test.h"

namespace kestrune::testing {
namespace {

class DllResources : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_NE(dll.module, nullptr); }
    std::wstring String(UINT id) {
        const wchar_t* text = nullptr;
        int length = LoadStringW(dll.module, id, reinterpret_cast<wchar_t*>(&text), 0);
        return length > 0 ? std::wstring(text, length) : L"";
    }
    std::string Resource(const wchar_t* type, UINT id) {
        HRSRC found = FindResourceW(dll.module, MAKEINTRESOURCEW(id), type);
        if (!found) return {};
        const char* data = static_cast<const char*>(LockResource(LoadResource(dll.module, found)));
        return std::string(data, SizeofResource(dll.module, found));
    }
    DllModule dll;
};

TEST_F(DllResources, StringTableHoldsTheExactTexts) {
    const wchar_t* expected[] = { // strings 100 to 115; 116 is none
        L"Kestrune", L"Kestrune",
        L"現在このフォルダにマウントされているフォルダのパスです。全てのアプリケーションはこのフォルダを通じて、表示されているフォルダにアクセスすることが出来ます。",
        L"このフォルダのリパースポイント属性を解除し、上に表示されているフォルダをアンマウントします。",
        L"マウントするフォルダを変更します。現在マウントされているフォルダはアンマウントされ、選択した新たなフォルダがマウントされます。",
        L"このファイルに対するハードリンク数です。ごみ箱の中にあるファイルもカウント対象になります。",
        L"このファイルに対するハードリンクを列挙します。この処理には時間がかかります。",
        L"選択されているハードリンクを削除します。現在開かれているファイルを削除する際は、出来るだけ全ての操作の後に行って下さい。",
        L"「ﾘﾝｸの列挙」 をクリックすると、ここにハードリンクのファイルパスが列挙されます。",
        L"このファイルに関連づけられている名前付きストリームの一覧です。",
        L"ストリーム一覧で選択されたストリームの内容を 1024文字まで表示します。NULL文字は空白に変換して表示します。",
        L"ヘルプファイルを表示します。", L"ストリーム情報を読み直します。",
        L"ファイルから新たにストリームを作成したり、選択されたストリームの内容をファイルに書き出します。",
        L"選択されているストリームを削除します。", L"このダイアログを閉じます。", L""};
    for (UINT id = 100; id <= 116; ++id) EXPECT_EQ(String(id), expected[id - 100]) << "string " << id;
}

// A resource's names and, per name, its languages; a dialog's or menu's items as "id class text".
constexpr LANGID kJa = MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT), kEn = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
std::map<UINT, std::set<LANGID>> Languages(HMODULE module, const wchar_t* type) {
    std::map<UINT, std::set<LANGID>> found;
    EnumResourceNamesW(module, type, [](HMODULE m, LPCWSTR t, LPWSTR name, LONG_PTR to) -> BOOL {
        auto& all = *reinterpret_cast<std::map<UINT, std::set<LANGID>>*>(to);
        return EnumResourceLanguagesW(m, t, name, [](HMODULE, LPCWSTR, LPCWSTR n, WORD language, LONG_PTR into) -> BOOL {
            return (*reinterpret_cast<std::map<UINT, std::set<LANGID>>*>(into))[LOWORD(n)].insert(language), TRUE;
        }, reinterpret_cast<LONG_PTR>(&all));
    }, reinterpret_cast<LONG_PTR>(&found));
    return found;
}
const BYTE* Data(HMODULE module, const wchar_t* type, UINT id, LANGID language) {
    HRSRC found = FindResourceExW(module, type, MAKEINTRESOURCEW(id), language);
    return found ? static_cast<const BYTE*>(LockResource(LoadResource(module, found))) : nullptr;
}
// A string or ordinal of a dialog template; `at` moves past it.
std::wstring SzOrOrd(const BYTE*& at) {
    auto* w = reinterpret_cast<const WORD*>(at);
    if (*w == 0xFFFF) return at += 4, L"#" + std::to_wstring(w[1]);
    std::wstring text(reinterpret_cast<const wchar_t*>(w));
    return at += 2 * (text.size() + 1), text;
}
std::vector<std::wstring> DialogItems(const BYTE* at) { // DLGTEMPLATEEX and DLGITEMTEMPLATEEX
    WORD count = *reinterpret_cast<const WORD*>(at + 16);
    std::vector<std::wstring> items{L"0 caption"};
    at += 26;
    SzOrOrd(at), SzOrOrd(at), items[0] += L" " + SzOrOrd(at);
    at += 6, SzOrOrd(at); // font size, weight, italic, charset, face
    for (WORD i = 0; i < count; ++i) {
        at = reinterpret_cast<const BYTE*>((reinterpret_cast<UINT_PTR>(at) + 3) & ~UINT_PTR{3});
        DWORD id = *reinterpret_cast<const DWORD*>(at + 20);
        at += 24;
        std::wstring cls = SzOrOrd(at);
        items.push_back(std::to_wstring(id) + L" " + cls + L" " + SzOrOrd(at));
        at += 2 + *reinterpret_cast<const WORD*>(at);
    }
    return items;
}
std::vector<std::wstring> MenuItems(HMENU menu) {
    std::vector<std::wstring> items;
    for (int i = 0; i < GetMenuItemCount(menu); ++i) {
        wchar_t text[256] = {};
        GetMenuStringW(menu, i, text, 256, MF_BYPOSITION);
        items.push_back(std::to_wstring(GetMenuItemID(menu, i)) + L" menu " + text);
        for (auto& sub : GetSubMenu(menu, i) ? MenuItems(GetSubMenu(menu, i)) : std::vector<std::wstring>{}) items.push_back(sub);
    }
    return items;
}
// "id class" and whether the text has an access key: the same in both languages.
std::wstring Shape(const std::wstring& item) {
    size_t text = item.find(L' ', item.find(L' ') + 1);
    return item.substr(0, text) + (item.find(L'&', text) != std::wstring::npos ? L" &" : L"");
}

TEST_F(DllResources, EveryStringDialogAndMenuExistsInJapaneseAndEnglishWithTheSameIdsControlsAndAccessKeys) {
    const std::set<LANGID> both{kJa, kEn};
    for (auto [type, kind] : {std::pair{RT_STRING, "strings"}, {RT_DIALOG, "dialog"}, {RT_MENU, "menu"}}) {
        auto names = Languages(dll.module, type);
        EXPECT_FALSE(names.empty());
        for (auto& [id, languages] : names) {
            EXPECT_EQ(languages, both) << kind << " " << id;
            if (type == RT_STRING) { // 16 counted strings per block: present in one, present in the other
                const BYTE *ja = Data(dll.module, type, id, kJa), *en = Data(dll.module, type, id, kEn);
                for (int i = 0; ja && en && i < 16; ++i, ja += 2 + 2 * *reinterpret_cast<const WORD*>(ja), en += 2 + 2 * *reinterpret_cast<const WORD*>(en))
                    EXPECT_EQ(*reinterpret_cast<const WORD*>(ja) == 0, *reinterpret_cast<const WORD*>(en) == 0) << "string " << (id - 1) * 16 + i;
                continue;
            }
            std::vector<std::wstring> items[2];
            for (LANGID language : both) {
                auto& shown = items[language == kEn];
                if (type == RT_DIALOG) shown = DialogItems(Data(dll.module, type, id, language));
                else if (HMENU menu = LoadMenuIndirectW(Data(dll.module, type, id, language))) shown = MenuItems(menu), DestroyMenu(menu);
            }
            ASSERT_EQ(items[0].size(), items[1].size()) << kind << " " << id;
            std::set<wchar_t> keys;
            for (size_t i = 0; i < items[0].size(); ++i) {
                EXPECT_EQ(Shape(items[0][i]), Shape(items[1][i])) << kind << " " << id;
                size_t key = items[1][i].find(L'&');
                if (key != std::wstring::npos) EXPECT_TRUE(keys.insert(towupper(items[1][i][key + 1])).second) << kind << " " << id << ": key of " << Narrow(items[1][i]);
            }
        }
    }
}

// Windows' look in any host: the manifest asks for the common controls of version 6, and the
// English dialogs take the shell's font as Windows' own do.
TEST_F(DllResources, ManifestAsksForCommonControls6AndEnglishDialogsUseTheShellFont) {
    std::string manifest = Resource(MAKEINTRESOURCEW(24), 2);
    for (const char* part : {"\"Microsoft.Windows.Common-Controls\"", "version=\"6.0.0.0\"", "6595b64144ccf1df"})
        EXPECT_NE(manifest.find(part), std::string::npos) << part;
    for (UINT id : {204u, 205u, 209u}) {
        const BYTE* dialog = Data(dll.module, RT_DIALOG, id, kEn);
        ASSERT_NE(dialog, nullptr);
        DWORD style = 0; // DLGTEMPLATEEX: version, signature, help id, extended style, style
        memcpy(&style, dialog + 12, sizeof style);
        EXPECT_EQ(style & DS_SHELLFONT, DWORD{DS_SHELLFONT}) << "dialog " << id;
    }
}

TEST_F(DllResources, IconGroupsHoldSixteenColourImagesAndAlphaImagesOfEveryScale) {
    std::vector<std::vector<int>> expected = {{32, 32, 16, 4}, {16, 16, 16, 4}}; // width, height, colours, bits
    for (int size : {16, 20, 24, 32, 40, 48, 64, 256}) expected.push_back({size % 256, size % 256, 0, 32});
    for (UINT id : {201u, 202u, 203u}) {
        std::string group = Resource(MAKEINTRESOURCEW(14), id); // RT_GROUP_ICON: 6 bytes, then 14 per image
        ASSERT_EQ(group.size(), 6 + 14 * expected.size()) << "icon group " << id;
        std::vector<std::vector<int>> images;
        for (auto entry = reinterpret_cast<const BYTE*>(group.data()) + 6; images.size() < expected.size(); entry += 14)
            images.push_back({entry[0], entry[1], entry[2], entry[6]});
        EXPECT_EQ(images, expected) << "icon group " << id;
        for (int size : {16, 48, 256}) EXPECT_NE(LoadImageW(dll.module, MAKEINTRESOURCEW(id), IMAGE_ICON, size, size, 0), nullptr) << size;
    }
}

TEST_F(DllResources, VersionIsJapanese140AndSelfRegistering) {
    std::string version = Resource(MAKEINTRESOURCEW(16), 1); // RT_VERSION
    ASSERT_FALSE(version.empty());
    size_t at = version.find("\xBD\x04\xEF\xFE");
    ASSERT_NE(at, std::string::npos);
    VS_FIXEDFILEINFO fixed;
    memcpy(&fixed, version.data() + at, sizeof fixed);
    ASSERT_EQ(fixed.dwSignature, 0xFEEF04BDu);
    EXPECT_EQ(std::make_tuple(fixed.dwFileVersionMS, fixed.dwFileVersionLS, fixed.dwProductVersionMS),
              std::make_tuple(0x00010004ul, 0ul, 0x00010004ul)) << "file version 1.4.0.0, product version 1.4";
    std::wstring text(reinterpret_cast<const wchar_t*>(version.data()), version.size() / 2);
    for (std::string part : {"041104b0", "040904b0", "NTFS shell extension", "OLESelfRegister", "1.4.0.0"})
        EXPECT_NE(text.find(std::wstring(part.begin(), part.end())), std::wstring::npos) << part;
}

TEST_F(DllResources, BusyAnimationIs24Rle8FramesOf32x32At17PerSecondAndPlaysInTheAnimationControl) {
    std::string avi = Resource(L"AVI", 207);
    auto Chunk = [&](const char* id) { // no tag's letters occur among the frames' small byte values
        size_t at = std::min(avi.find(id), avi.size() - 8);
        return avi.substr(at + 8, *reinterpret_cast<const uint32_t*>(avi.data() + at + 4));
    };
    MainAVIHeader clip;
    AVIStreamHeader stream;
    BITMAPINFOHEADER format;
    memcpy(&clip, Chunk("avih").data(), sizeof clip);
    memcpy(&stream, Chunk("strh").data(), sizeof stream);
    memcpy(&format, Chunk("strf").data(), sizeof format);
    EXPECT_TRUE(clip.dwMicroSecPerFrame == 58824 && clip.dwTotalFrames == 24 && clip.dwStreams == 1);
    EXPECT_TRUE(stream.fccType == streamtypeVIDEO && stream.dwRate * 58824ull == stream.dwScale * 1000000ull);
    EXPECT_TRUE(format.biWidth == 32 && format.biHeight == 32 && format.biBitCount == 8 && format.biCompression == BI_RLE8 &&
                format.biSizeImage) << "Wine's decoder reads biSizeImage bytes of each frame";
    EXPECT_EQ(Chunk("idx1").size(), 24 * sizeof(AVIINDEXENTRY));
    InitCommonControls();
    HWND animation = CreateWindowW(ANIMATE_CLASSW, L"", WS_POPUP | WS_VISIBLE, 0, 0, 32, 32, nullptr, nullptr, nullptr, nullptr);
    ASSERT_TRUE(SendMessageW(animation, ACM_OPENW, reinterpret_cast<WPARAM>(dll.module), 207));
    std::set<std::vector<COLORREF>> pictures; // each frame as the control drew it
    for (WORD frame = 0; frame < 24; ++frame) {
        ASSERT_TRUE(SendMessageW(animation, ACM_PLAY, 1, MAKELPARAM(frame, frame)));
        std::vector<COLORREF> picture(32 * 32);
        HDC dc = GetDC(animation);
        for (int i = 0; i < 32 * 32; ++i) picture[i] = GetPixel(dc, i % 32, i / 32);
        ReleaseDC(animation, dc);
        pictures.insert(picture);
    }
    EXPECT_EQ(pictures.size(), 24u) << "24 different pictures decoded";
    EXPECT_TRUE(SendMessageW(animation, ACM_PLAY, static_cast<WPARAM>(-1), MAKELPARAM(0, 0xFFFF)));
    DestroyWindow(animation);
}

std::string ExpectedScript(const std::string& name, const std::string& clsid) {
    const char* lines[] = {
        "HKCR", "{", "\tKestrune.@.1 = s '@ Class'", "\t{", "\t\tCLSID = s '#'", "\t}", "\tKestrune.@ = s '@ Class'",
        "\t{", "\t\tCLSID = s '#'", "\t\tCurVer = s 'Kestrune.@.1'", "\t}", "\tNoRemove CLSID", "\t{",
        "\t\tForceRemove # = s '@ Class'", "\t\t{", "\t\t\tProgID = s 'Kestrune.@.1'",
        "\t\t\tVersionIndependentProgID = s 'Kestrune.@'", "\t\t\tForceRemove 'Programmable'",
        "\t\t\tInprocServer32 = s '%MODULE%'", "\t\t\t{", "\t\t\t\tval ThreadingModel = s 'Apartment'", "\t\t\t}",
        "\t\t\t'TypeLib' = s '{4E19DA74-5A13-4910-8F75-236B94656609}'", "\t\t}", "\t}", "}"};
    std::string script;
    for (const char* line : lines) {
        for (const char* c = line; *c; ++c) script += *c == '@' ? name : *c == '#' ? clsid : std::string(1, *c);
        script += "\r\n";
    }
    return script;
}

TEST_F(DllResources, RegistryScriptsAreByteForByte) {
    const std::pair<UINT, std::pair<const char*, const char*>> scripts[] = {
        {101, {"HardLink", "{839443F4-21A5-4DB5-9DA7-0D3B18B0DAA5}"}},
        {102, {"ReparsePoint", "{5BD5298E-22D1-46C4-A9EF-8F531E2F372F}"}},
        {105, {"OperationHook", "{5A38A4E1-060F-44FB-AEBF-1AF62FD6D493}"}},
        {106, {"PropNTFS", "{C7B88FC2-749C-446A-9917-7ECB171F10E6}"}}};
    for (auto& [id, cls] : scripts) {
        std::string script = Resource(L"REGISTRY", id);
        EXPECT_EQ(script, ExpectedScript(cls.first, cls.second)) << "script " << id;
        EXPECT_EQ(script.find('\0'), std::string::npos);
    }
}

TEST_F(DllResources, TypeLibraryDescribesFourDualInterfacesAndFourClasses) {
    ITypeLib* library = nullptr;
    ASSERT_EQ(LoadTypeLibEx(dll.Path().c_str(), REGKIND_NONE, &library), S_OK);
    TLIBATTR* attributes = nullptr;
    ASSERT_EQ(library->GetLibAttr(&attributes), S_OK);
    EXPECT_TRUE(IsEqualGUID(attributes->guid, LIBID_KESTRUNELib));
    EXPECT_EQ(std::make_pair(attributes->wMajorVerNum, attributes->wMinorVerNum), std::make_pair(WORD{1}, WORD{0}));
    library->ReleaseTLibAttr(attributes);
    auto documentation = [](auto* of, int index) { // of the library (-1) or a type (MEMBERID_NIL): "name / help"
        BSTR name = nullptr, help = nullptr;
        EXPECT_EQ(of->GetDocumentation(index, &name, &help, nullptr, nullptr), S_OK);
        std::wstring both = std::wstring(name ? name : L"") + L" / " + (help ? help : L"");
        SysFreeString(name);
        SysFreeString(help);
        return both;
    };
    EXPECT_EQ(documentation(library, -1),
              L"KESTRUNELib / Kestrune 1.0 \uFF80\uFF72\uFF8C\uFF9F \uFF97\uFF72\uFF8C\uFF9E\uFF97\uFF98");
    const struct { const GUID* guid; const wchar_t *name, *help; TYPEKIND kind; } expected[] = {
        {&IID_IHardLink, L"IHardLink", L"IHardLink Interface", TKIND_DISPATCH},
        {&IID_IReparsePoint, L"IReparsePoint", L"IReparsePoint Interface", TKIND_DISPATCH},
        {&IID_IOperationHook, L"IOperationHook", L"IOperationHook Interface", TKIND_DISPATCH},
        {&IID_IPropNTFS, L"IPropNTFS", L"IPropNTFS Interface", TKIND_DISPATCH},
        {&CLSID_HardLink, L"HardLink", L"HardLink Class", TKIND_COCLASS},
        {&CLSID_ReparsePoint, L"ReparsePoint", L"ReparsePoint Class", TKIND_COCLASS},
        {&CLSID_OperationHook, L"OperationHook", L"OperationHook Class", TKIND_COCLASS},
        {&CLSID_PropNTFS, L"PropNTFS", L"PropNTFS Class", TKIND_COCLASS}};
    EXPECT_EQ(library->GetTypeInfoCount(), 8u);
    for (auto& e : expected) {
        ITypeInfo* info = nullptr;
        ASSERT_EQ(library->GetTypeInfoOfGuid(*e.guid, &info), S_OK) << e.name;
        TYPEATTR* typeAttributes = nullptr;
        info->GetTypeAttr(&typeAttributes);
        EXPECT_EQ(typeAttributes->typekind, e.kind) << e.name;
        // An interface is dual with IDispatch's members only; a class is creatable, its one interface the default.
        bool dispatch = e.kind == TKIND_DISPATCH;
        INT flags = 0;
        EXPECT_TRUE(typeAttributes->wTypeFlags & (dispatch ? TYPEFLAG_FDUAL : TYPEFLAG_FCANCREATE)) << e.name;
        EXPECT_EQ(dispatch ? typeAttributes->cFuncs : typeAttributes->cImplTypes, dispatch ? 7 : 1) << e.name;
        EXPECT_TRUE(dispatch || (info->GetImplTypeFlags(0, &flags) == S_OK && flags & IMPLTYPEFLAG_FDEFAULT)) << e.name;
        info->ReleaseTypeAttr(typeAttributes);
        EXPECT_EQ(documentation(info, MEMBERID_NIL), std::wstring(e.name) + L" / " + e.help);
        info->Release();
    }
    library->Release();
}

} // namespace
} // namespace kestrune::testing
