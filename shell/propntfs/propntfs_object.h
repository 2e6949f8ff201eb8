// PropNTFS: the "Kestrune" page of an NTFS item's Properties: its hard links, enumerated on a
// worker thread, and its named streams.
#pragma once
#include <windows.h>
#include <prsht.h>
#include <shlobj.h>

#include "kestrune_h.h"
#include "ntfs/paths.h"
#include "ntfs/scoped.h"
#include "server/dual_interface.h"
#include "server/interface_table.h"
#include "server/type_infos.h"
#include "shell/propntfs/stream_ops.h"
#include "shell/ui_language.h"

namespace kestrune {

class PropNtfsObject : public DualInterface<IPropNTFS, &propNtfsTypeInfo>,
                       public IShellExtInit,
                       public IShellPropSheetExt {
public:
    static const InterfaceTable<PropNtfsObject> interfaces;

    // IShellExtInit (propntfs_init.cpp)
    STDMETHODIMP Initialize(PCIDLIST_ABSOLUTE folder, IDataObject* data, HKEY progId) override;

    // IShellPropSheetExt (propntfs_init.cpp)
    STDMETHODIMP AddPages(LPFNSVADDPROPSHEETPAGE addPage, LPARAM lParam) override;
    STDMETHODIMP ReplacePage(EXPPS pageId, LPFNSVADDPROPSHEETPAGE replaceWith, LPARAM lParam) override;

protected:
    PropNtfsObject();
    ~PropNtfsObject();

private:
    static UINT CALLBACK PageCallback(HWND window, UINT message, PROPSHEETPAGEW* page);
    // The page's dialog procedure and its dispatch (propntfs_page.cpp).
    static INT_PTR CALLBACK PageProcedure(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
    void Dispatch(HWND page, WORD id, WORD code);

    // Link section (propntfs_links.cpp).
    void ShowLinkCount(HWND page);
    void StartOrStopEnumeration(HWND page);
    void FinishEnumeration(HWND page);
    void EndWorker();
    void DeleteLink(HWND page);
    static DWORD WINAPI WorkerMain(void* work);

    // Stream section (propntfs_streams.cpp).
    void FillStreamList(HWND page);
    void PreviewStream(HWND page);
    void DeleteStream(HWND page);
    void ShowStreamMenu(HWND page);
    void NewStreamFromFile(HWND page);
    void SaveStreamToFile(HWND page);
    void RenameStream(HWND page);
    // "\\?\" + the item's path + ":" + the name (255 characters at most), so that no name rule of
    // Win32 turns a name ending in dots or spaces into another stream's. As long as the system takes
    // a path, so it lives on the heap, sized to the path.
    class StreamPathText {
    public:
        bool Allocate(size_t chars) { return block_.Reset(chars * sizeof(wchar_t)); }
        wchar_t* Get() const { return block_.As<wchar_t>(); }

    private:
        ScopedGlobal block_;
    };
    // False when the file has no name left or its path changed meanwhile; a path that does not fit
    // and a lack of memory are told.
    bool StreamPath(HWND page, const wchar_t* name, StreamPathText& path);
    bool SelectedStreamPath(HWND page, StreamPathText& path);
    // Once the file is gone: the section is emptied and acts on nothing more.
    void CloseStreamSection(HWND page);

    // The file the page was opened for, held by a handle: a current "\\?\" path of it through
    // whichever of its names is left (1), 0 once it has none, -1 when that cannot be told or does
    // not fit `chars`. Every step that names the file by a path takes the path from here.
    int CurrentPath(wchar_t* path, size_t chars) const { return HeldFilePath(file_.Get(), path, chars); }
    // Whether the file is gone; the first time, the page says so and disables what acted on it.
    bool FileGone(HWND page);
    void Tell(HWND owner, UINT text, UINT icon);
    // What the page tells for each way a stream operation ends other than done: the target's name
    // taken, the target not made, a read or a write that failed. In use and out of memory are told
    // alike by all; a cancel tells nothing. True when the operation was done.
    struct OutcomeTexts {
        UINT exists;
        UINT notCreated;
        UINT readFailed;
        UINT writeFailed;
    };
    bool TellOutcome(HWND page, StreamOutcome outcome, const OutcomeTexts& texts);

    // The stream-name dialog 209 (stream_name_dialog.cpp): false when the user cancels.
    bool AskStreamName(HWND page, wchar_t (&name)[MAX_PATH]);
    static INT_PTR CALLBACK NameProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

    wchar_t filePath_[kLongestPathChars]; // as the shell handed it over, longer than MAX_PATH too
    ScopedHandle file_;
    bool gone_ = false;
    // The module locks the sheet's page callbacks took and have not given back.
    LONG pageModuleLocks_ = 0;
    wchar_t caption_[100];
    // Page references taken by AddPages and not yet given back by the page's release.
    int pageReferences_ = 0;

    // One enumeration: its thread, and what it shares with the object (propntfs_links.cpp), which
    // the last of the two to let go frees, so a worker stuck in a slow call can be left behind.
    struct LinkWork;
    HANDLE enumThread_ = nullptr;
    LinkWork* work_ = nullptr;

    wchar_t nameDialogResult_[MAX_PATH];

    // The listed streams' real names, one after another; each list entry's data points at its own.
    ScopedGlobal streamNames_;
    bool streamsClosed_ = false;
};

// Private messages the worker posts to the page; posting never waits for the page's thread.
constexpr UINT kScanStartedMessage = WM_APP + 0x4B0;
constexpr UINT kEnumerationEndedMessage = WM_APP + 0x4B1;

// Control, menu and resource IDs of the page.
enum PageIds : int {
    kPageDialog = 205,
    kLinkCountLabel = 201,
    kEnumerateButton = 202,
    kDeleteLinkButton = 203,
    kLinkList = 204,
    kStreamList = 205,
    kStreamPreview = 206,
    kReloadStreamsButton = 207,
    kEditStreamButton = 208,
    kDeleteStreamButton = 209,
    kHelpButton = 210,
    kAnimation = 401,
    kBusyClip = 207,
    kStreamMenu = 208,
    kStreamNameDialog = 209,
    kStreamNameEdit = 204,
    kNewStreamCommand = 32768,
    kSaveStreamCommand = 32769,
    kRenameStreamCommand = 32770,
};

// The string table's texts the user sees (UiText, Tell); the count carries the number as "%d".
enum PropNtfsText : UINT {
    kEnumerateText = 150,
    kStopText = 151,
    kLinkCountFormat = 152,
    kEnumerationFailedText = 153,
    kDeleteLinkQuestion = 154,
    kLastLinkQuestion = 155,
    kDeleteFailedText = 156,
    kDeleteStreamQuestion = 157,
    kStreamReadFailedText = 158,
    kStreamWriteFailedText = 159,
    kOutOfMemoryText = 160,
    kFileOpenFailedText = 161,
    kFileReadFailedText = 162,
    kStreamCreateFailedText = 163,
    kFileCreateFailedText = 164,
    kFileWriteFailedText = 165,
    kRenameKeptOldText = 166,
    kNameTooLongText = 167,
    kEmptyNameText = 168,
    kInvalidNameText = 169,
    kStreamExistsText = 171,
    kNetworkLinksText = 172,
    kFileGoneText = 185,
    kFormerContentKeptText = 186,
    kLinksPathTooLongText = 187,
    kStreamInUseText = 180,
    kPreviewInUseText = 181,
    kPreviewUnreadableText = 182,
    kFileInUseText = 183,
};

} // namespace kestrune
