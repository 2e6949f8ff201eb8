#include "shell/propntfs/propntfs_object.h"

#include "server/module.h"

namespace kestrune {

const wchar_t kEnumerateText[] = L"ﾘﾝｸの列挙(&N)";
const wchar_t kStopText[] = L"中断(&S)";
const wchar_t kLinkCountFormat[] = L"リンク数 : %d";
const wchar_t kEnumerationFailedText[] = L"列挙に失敗しました。";
const wchar_t kNetworkLinksText[] = L"ネットワークドライブ上のファイルのリンクは列挙できません。";
const wchar_t kDeleteLinkQuestion[] = L"このハードリンクを削除してもよろしいですか？";
const wchar_t kLastLinkQuestion[] =
    L"このファイルは唯一のリンクです。\n削除するとファイルは完全に失われますがよろしいですか？";
const wchar_t kDeleteFailedText[] = L"削除に失敗しました。";
const wchar_t kDeleteStreamQuestion[] = L"このストリームを削除してもよろしいですか？";
const wchar_t kStreamReadFailedText[] = L"ストリームの読み出しに失敗しました。";
const wchar_t kStreamWriteFailedText[] = L"ストリームの書き込みに失敗しました。";
const wchar_t kOutOfMemoryText[] = L"作業に必要なメモリが足りません。";
const wchar_t kFileOpenFailedText[] = L"ファイルを開けません。作業は中断されました。";
const wchar_t kFileReadFailedText[] = L"ファイルの読み込みに失敗しました。";
const wchar_t kStreamCreateFailedText[] = L"ストリームを作成出来ませんでした。";
const wchar_t kFileCreateFailedText[] = L"ファイルを作成出来ませんでした。";
const wchar_t kFileWriteFailedText[] = L"ファイルの書き込みに失敗しました。";
const wchar_t kRenameKeptOldText[] = L"ストリーム名を変更出来ませんでした。元のストリームはそのまま残っています。";
const wchar_t kNameTooLongText[] = L"ストリーム名が長すぎます。";
const wchar_t kStreamExistsText[] = L"同じ名前のストリームが既にあります。別の名前を指定して下さい。";
const wchar_t kEmptyNameText[] = L"ストリーム名を入力して下さい。";
const wchar_t kInvalidNameText[] = L"ストリーム名に以下の文字は使用できません。\n\\ / : , ; * ? \" < > |";

namespace {
const InterfaceEntry<PropNtfsObject> propNtfsRows[] = {
    {&IID_IPropNTFS, InterfaceOf<PropNtfsObject, IPropNTFS>},
    {&IID_IDispatch, InterfaceOf<PropNtfsObject, IPropNTFS>},
    {&IID_IShellExtInit, InterfaceOf<PropNtfsObject, IShellExtInit>},
    {&IID_IShellPropSheetExt, InterfaceOf<PropNtfsObject, IShellPropSheetExt>},
};
} // namespace

const InterfaceTable<PropNtfsObject> PropNtfsObject::interfaces = MakeInterfaceTable(propNtfsRows);

PropNtfsObject::PropNtfsObject() : filePath_{}, caption_{}, nameDialogResult_{} {
    LoadStringW(Module().instance, 101, caption_, 100);
}

// The page is gone by now; a worker still running was asked to stop by the page's release.
PropNtfsObject::~PropNtfsObject() { EndWorker(); }

} // namespace kestrune
