// The texts the reparse-point menu and its dialog show.
#pragma once

namespace kestrune {

inline constexpr wchar_t kCreateMenuText[] = L"リパースポイントの作成(&A)";
inline constexpr wchar_t kInfoMenuText[] = L"リパースポイント情報(&A)";
inline constexpr wchar_t kCreateHelpText[] = L"ここに他のフォルダやドライブをマウントします。";
inline constexpr wchar_t kInfoHelpText[] = L"このリパースポイントに関する情報を表示します。";
inline constexpr wchar_t kBrowseTitle[] = L"マウントするターゲットフォルダを指定して下さい。";

inline constexpr wchar_t kOnlyEmptyFolders[] = L"リパースポイント属性は空のフォルダにしか設定できません。";
inline constexpr wchar_t kCannotMountItself[] = L"自分自身をマウントすること出来ません。";
inline constexpr wchar_t kAncestorWarning[] =
    L"選択したフォルダはこのリパースポイントの上位フォルダになります。\n"
    L"このようなディレクトリ構造はNTFS に対応していないアプリケーションの予期しない動作を\n"
    L"誘発する恐れがありますが、続行しますか？";
inline constexpr wchar_t kMountSet[] = L"リパースポイントを設定しました。";
inline constexpr wchar_t kMountNotSet[] = L"リパースポイントを設定出来ませんでした。";

inline constexpr wchar_t kSymbolicLinkLabel[] = L"このフォルダは以下のフォルダへのシンボリックリンクです。";
inline constexpr wchar_t kLinkRemoved[] = L"シンボリックリンクを削除しました。";
inline constexpr wchar_t kLinkRemoveFailed[] = L"シンボリックリンクの削除に失敗しました。";
inline constexpr wchar_t kNotLocalTarget[] =
    L"ネットワークドライブなど、ローカルドライブ以外のフォルダはマウントできません。\n"
    L"このコンピュータの固定ディスクかリムーバブルディスク上のフォルダを指定して下さい。";
inline constexpr wchar_t kReadFailed[] = L"リパースポイント情報の読み取りに失敗しました。";
inline constexpr wchar_t kRemoved[] = L"リパースポイント属性を解除しました。";
inline constexpr wchar_t kRemoveFailed[] = L"リパースポイント属性の解除に失敗しました。";
inline constexpr wchar_t kChanged[] = L"リパースポイントを変更しました。";
inline constexpr wchar_t kNotChanged[] = L"リパースポイントを変更出来ませんでした。";
inline constexpr wchar_t kNotChangedRestored[] =
    L"リパースポイントを変更出来ませんでした。\n元のリパースポイントを設定し直しました。";
inline constexpr wchar_t kNotChangedUnmounted[] =
    L"リパースポイントを変更出来ませんでした。\n"
    L"元のリパースポイントも設定し直せなかったため、このフォルダには現在何もマウントされていません。";

} // namespace kestrune
