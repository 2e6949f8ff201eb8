// Benchmark (not a test): hard-link enumeration over test volumes of 10,000 and 100,000 files,
// beside a bare recursive directory walk of the same tree, and the bytes the stream listing moves
// through the backup walk for small and large streams. One summary line per figure.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "ntfs/hardlinks.h"
#include "ntfs/kernel.h"
#include "ntfs/streams.h"
#include "tests/fake/fake_volumes.h"

using namespace kestrune;
using namespace kestrune::testing;

namespace {

double Seconds() {
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// 10 x 10 folders of equal share of `files`, and a file with 4 more links spread over the tree.
long long BuildTree(FakeVolumeSet& volumes, int files) {
    long long entries = 0;
    int perFolder = files / 100;
    for (int a = 0; a < 10; ++a) {
        std::wstring top = L"D:\\top" + std::to_wstring(a);
        volumes.MakeFolder(top);
        ++entries;
        for (int b = 0; b < 10; ++b) {
            std::wstring folder = top + L"\\sub" + std::to_wstring(b);
            volumes.MakeFolder(folder);
            ++entries;
            for (int f = 0; f < perFolder; ++f) {
                volumes.MakeFile(folder + L"\\file" + std::to_wstring(f) + L".dat");
                ++entries;
            }
        }
    }
    volumes.MakeFile(L"D:\\linked.txt");
    for (int i = 0; i < 4; ++i)
        volumes.MakeLink(L"D:\\linked.txt", L"D:\\top" + std::to_wstring(i * 3) + L"\\sub" + std::to_wstring(i) +
                                                L"\\link" + std::to_wstring(i) + L".txt");
    return entries + 5;
}

long long Walk(const std::wstring& folder) {
    long long found = 0;
    WIN32_FIND_DATAW data;
    HANDLE search = Kernel().FindFirstFileW((folder + L"*.*").c_str(), &data);
    if (search == INVALID_HANDLE_VALUE) return 0;
    do {
        if (data.cFileName[0] == L'.') continue;
        ++found;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) found += Walk(folder + data.cFileName + L"\\");
    } while (Kernel().FindNextFileW(search, &data));
    Kernel().FindClose(search);
    return found;
}

void EnumerationFigures(int files) {
    FakeVolumeSet volumes;
    ScopedFakeKernel binding(volumes);
    volumes.AddVolume(L'D');
    long long entries = BuildTree(volumes, files);

    double start = Seconds();
    long long walked = Walk(L"D:\\");
    double floor = Seconds() - start;

    volumes.ResetStats();
    std::vector<wchar_t> text(5 * MAX_PATH);
    start = Seconds();
    int count = EnumerateHardLinks(L"D:\\linked.txt", text.data(), text.size(), nullptr);
    double elapsed = Seconds() - start;
    FakeStats stats = volumes.Stats();

    printf("enumerate %d files: links found %d of 5\n", files, count);
    printf("enumerate %d files: wall time %.3f s (bare directory walk of %lld entries %.3f s, ratio %.1f)\n", files,
           elapsed, walked, floor, floor > 0 ? elapsed / floor : 0.0);
    printf("enumerate %d files: file opens %lld\n", files, stats.fileOpens);
    printf("enumerate %d files: peak heap %lld bytes\n", files, stats.peakBytes);
    printf("enumerate %d files: peak heap per scanned entry %.0f bytes\n", files,
           static_cast<double>(stats.peakBytes) / static_cast<double>(entries));
}

void StreamFigures() {
    FakeVolumeSet volumes;
    ScopedFakeKernel binding(volumes);
    volumes.AddVolume(L'D');
    volumes.MakeFile(L"D:\\small.bin");
    volumes.MakeFile(L"D:\\large.bin");
    for (int i = 0; i < 4; ++i) {
        volumes.MakeStreamOfSize(L"D:\\small.bin", L"s" + std::to_wstring(i), 256);
        volumes.MakeStreamOfSize(L"D:\\large.bin", L"s" + std::to_wstring(i), 16u << 20);
    }
    std::vector<wchar_t> buffer(4 * MAX_PATH);
    long long moved[2];
    const wchar_t* paths[2] = {L"D:\\small.bin", L"D:\\large.bin"};
    for (int i = 0; i < 2; ++i) {
        volumes.ResetStats();
        ListNamedStreams(paths[i], buffer.data(), buffer.size());
        moved[i] = volumes.Stats().backupBytesRead;
    }
    printf("list streams: bytes moved through BackupRead, streams of 1 KiB %lld, of 64 MiB %lld (%s)\n", moved[0],
           moved[1], moved[0] == moved[1] ? "equal" : "NOT EQUAL");
}

} // namespace

int main() {
    EnumerationFigures(10000);
    EnumerationFigures(100000);
    StreamFigures();
    return 0;
}
