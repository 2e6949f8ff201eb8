// Inputs at and over MAX_PATH: each function answers with its refusal and never writes past a
// caller's MAX_PATH buffer. Guard characters after every output buffer catch an overrun.
#include <gtest/gtest.h>

#include <string>

#include "ntfs/paths.h"
#include "ntfs/volumes/volumes.h"
#include "tests/fake/leak_checked_test.h"

namespace kestrune::testing {
namespace {

constexpr wchar_t kGuard = 0xFDFD;

template <int Chars> struct Guarded {
    wchar_t text[Chars];
    wchar_t guard[8];
    Guarded() {
        for (auto& c : text) c = L'~';
        text[0] = 0;
        for (auto& c : guard) c = kGuard;
    }
    bool Intact() const {
        for (auto c : guard)
            if (c != kGuard) return false;
        return true;
    }
};

std::wstring PathOfLength(size_t length, wchar_t fill = L'a') {
    std::wstring path = L"D:\\";
    while (path.size() < length) path += (path.size() % 50 == 0) ? L'\\' : fill;
    return path.substr(0, length);
}

class OverlongInput : public LeakCheckedTest {
protected:
    OverlongInput() {
        volumes.AddVolume(L'D');
        volumes.MakeFolder(L"D:\\x");
    }
    const size_t lengths[4] = {258, 259, 260, 1000};
};

TEST_F(OverlongInput, InPlaceEditsStayInsideTheBuffer) {
    for (size_t length : {257u, 258u, 259u}) {
        Guarded<MAX_PATH> path;
        std::wstring text = PathOfLength(length);
        wcscpy(path.text, text.c_str());
        AddTrailingBackslash(path.text);
        EXPECT_TRUE(path.Intact()) << length;
        EXPECT_LT(wcslen(path.text), static_cast<size_t>(MAX_PATH));
        if (length < 259) EXPECT_EQ(path.text[length], L'\\');
        RemoveTrailingBackslash(path.text);
        EXPECT_TRUE(path.Intact());

        Guarded<MAX_PATH> prefixed;
        wcscpy(prefixed.text, text.c_str());
        wchar_t* result = PrependString(prefixed.text, L"\\??\\");
        EXPECT_TRUE(prefixed.Intact()) << length;
        if (length + 4 < MAX_PATH) {
            EXPECT_EQ(result, prefixed.text);
        } else {
            EXPECT_EQ(result, nullptr);
            EXPECT_EQ(std::wstring(prefixed.text), text); // refused and untouched
        }
    }
}

TEST_F(OverlongInput, SplitPartsAreCutToTheirBuffers) {
    for (size_t length : lengths) {
        std::wstring dirs = L"D:\\" + std::wstring(length, L'd') + L"\\" + std::wstring(length, L'n') + L"." +
                            std::wstring(length, L'e');
        Guarded<kDrivePartChars> drive;
        Guarded<kPathPartChars> dir, name, ext;
        SplitPath(dirs.c_str(), drive.text, dir.text, name.text, ext.text);
        EXPECT_TRUE(drive.Intact() && dir.Intact() && name.Intact() && ext.Intact()) << length;
        EXPECT_EQ(wcslen(dir.text), 255u);
        EXPECT_EQ(wcslen(name.text), 255u);
        EXPECT_EQ(ext.text[0], L'.');
    }
}

TEST_F(OverlongInput, QueriesRefuseWhatCannotBeAPath) {
    for (size_t length : lengths) {
        std::wstring path = PathOfLength(length);
        const wchar_t* p = path.c_str();
        EXPECT_EQ(IsExistingFile(p), 0) << length;
        EXPECT_EQ(GetHardLinkCount(p), -1);
        EXPECT_EQ(IsExistingFolder(p), 0);
        EXPECT_EQ(IsFolderEmpty(p), 0);
        EXPECT_EQ(IsAncestorPath(L"D:\\", p), length < MAX_PATH ? 1 : 0);
        EXPECT_EQ(IsAncestorPath(p, L"D:\\x"), 0);
        Guarded<MAX_PATH> root;
        int resolved = ResolveVolumeRoot(p, root.text);
        EXPECT_TRUE(root.Intact());
        EXPECT_EQ(resolved, length < MAX_PATH ? 0 : -1) << length;
        EXPECT_EQ(IsSameVolume(p, L"D:\\x"), length < MAX_PATH ? 1 : 0);
        EXPECT_EQ(IsNTFSVolume(p), length < MAX_PATH ? 1 : 0);
        Guarded<MAX_PATH> target;
        EXPECT_EQ(GetReparseTarget(p, target.text), -1);
        EXPECT_TRUE(target.Intact());
    }
}

TEST_F(OverlongInput, ALineLongerThanTheLineBufferIsRefused) {
    for (size_t length : lengths) {
        std::wstring text = std::wstring(length, L'l') + L"\r\nshort\r\n";
        Guarded<MAX_PATH> line;
        int result = GetTextLine(text.c_str(), line.text, 0);
        EXPECT_TRUE(line.Intact()) << length;
        EXPECT_EQ(result, length < MAX_PATH ? static_cast<int>(length) : -1);
        EXPECT_EQ(GetTextLine(text.c_str(), line.text, 1), 5);
    }
}

TEST_F(OverlongInput, AJunctionTargetThatFillsTheBufferIsAFailedResolution) {
    volumes.MakeFolder(L"D:\\j");
    std::wstring target = PathOfLength(259);
    volumes.MakeJunction(L"D:\\j", target); // reads back as 259 characters plus a backslash
    Guarded<MAX_PATH> read;
    EXPECT_NE(GetReparseTarget(L"D:\\j", read.text), 0);
    EXPECT_TRUE(read.Intact());
    volumes.MakeJunction(L"D:\\j2", PathOfLength(258)); // 259 with its backslash: fits, but no room for more
    EXPECT_EQ(GetReparseTarget(L"D:\\j2", read.text), 0);
    Guarded<MAX_PATH> root;
    EXPECT_EQ(ResolveVolumeRoot(L"D:\\j2\\f", root.text), -1);
    EXPECT_TRUE(root.Intact());
}

} // namespace
} // namespace kestrune::testing

namespace kestrune::testing {
namespace {

TEST_F(OverlongInput, RandomPathsNeverOverrunABufferNorLeak) {
    volumes.MakeJunction(L"D:\\x\\j", L"D:\\x");
    volumes.AddShare(L"\\\\s\\h");
    const wchar_t alphabet[] = L"\\\\\\/:..*?aDdxj \u3042";
    unsigned seed = 12345;
    auto next = [&seed] { return seed = seed * 1103515245u + 12345u, (seed >> 8); };
    for (int round = 0; round < 4000; ++round) {
        size_t length = next() % (round % 10 == 0 ? 600 : 270);
        std::wstring path = (next() % 2) ? L"D:\\" : L"";
        while (path.size() < length) path += alphabet[next() % (sizeof alphabet / sizeof *alphabet - 1)];
        const wchar_t* p = path.c_str();
        Guarded<MAX_PATH> root, target, line;
        Guarded<kDrivePartChars> drive;
        Guarded<kPathPartChars> dir, name, ext;
        IsExistingFile(p);
        GetHardLinkCount(p);
        IsExistingFolder(p);
        IsFolderEmpty(p);
        IsAncestorPath(p, L"D:\\x\\y");
        IsAncestorPath(L"D:\\", p);
        ResolveVolumeRoot(p, root.text);
        IsSameVolume(p, L"D:\\x");
        IsNTFSVolume(p);
        GetReparseTarget(p, target.text);
        SplitPath(p, drive.text, dir.text, name.text, ext.text);
        std::wstring text = path + L"\r\n";
        GetTextLine(text.c_str(), line.text, 0);
        if (path.size() < MAX_PATH) {
            Guarded<MAX_PATH> edited;
            wcscpy(edited.text, p);
            AddTrailingBackslash(edited.text);
            PrependString(edited.text, L"\\??\\");
            RemoveTrailingBackslash(edited.text);
            ASSERT_TRUE(edited.Intact()) << round;
        }
        ASSERT_TRUE(root.Intact() && target.Intact() && line.Intact() && drive.Intact() && dir.Intact() &&
                    name.Intact() && ext.Intact())
            << "round " << round << ": " << Narrow(path);
    }
    ExpectNothingLeaked("after the random paths");
}

} // namespace
} // namespace kestrune::testing
