// Which string each control's context help shows.
#include "shell/help/help.h"

namespace kestrune {
namespace {

template <size_t N> constexpr HelpTable MakeHelpTable(const HelpTopic (&rows)[N]) { return HelpTable{rows, N}; }

const HelpTopic propertyPageRows[] = {
    {201, 105}, {202, 106}, {203, 107}, {204, 108}, {205, 109}, {206, 110},
    {207, 112}, {208, 113}, {209, 114}, {210, 111}, {211, 109}, {212, 110},
};

const HelpTopic reparseInfoRows[] = {
    {IDOK, 115},
    {201, 103},
    {202, 104},
    {203, 102},
};

} // namespace

const HelpTable kPropertyPageHelp = MakeHelpTable(propertyPageRows);
const HelpTable kReparseInfoHelp = MakeHelpTable(reparseInfoRows);

void ShowContextHelp(HWND dialog, const HelpTable& table, int controlId) {
    for (size_t i = 0; i < table.count; ++i) {
        if (table.rows[i].controlId == controlId) {
            ShowHelpPopup(dialog, table.rows[i].stringId);
            return;
        }
    }
}

} // namespace kestrune
