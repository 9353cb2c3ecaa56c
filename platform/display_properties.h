// The properties of an Access table and its columns that only the front end uses: how the
// datasheet shows them, and a column's lookup (a combo box with its row source). A link to the
// table's copy carries them; the properties the database enforces (DefaultValue,
// ValidationRule, ValidationText, Required, AllowZeroLength) are not among them.
#pragma once

#include <algorithm>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "platform/text.h"

namespace platform {

// Also the ones Access keeps on an ODBC link it made itself for how a column is entered and
// aligned (the Jackcess sample odbcLinkerTestV2007.accdb).
inline constexpr const char* kColumnDisplayProperties[] = {
    "Caption",      "Description",    "Format",          "DecimalPlaces",
    "InputMask",    "DisplayControl", "RowSourceType",   "RowSource",
    "BoundColumn",  "ColumnCount",    "ColumnHeads",     "ColumnWidths",
    "ListRows",     "ListWidth",      "LimitToList",     "ColumnWidth",
    "ColumnOrder",  "ColumnHidden",   "TextAlign",       "AggregateType",
    "CurrencyLCID", "IMEMode",        "IMESentenceMode", "ShowDatePicker",
    "TextFormat",   "AppendOnly",     "FilterLookup",    "UnicodeCompression",
    "ResultType"};

inline constexpr const char* kTableDisplayProperties[] = {"Description",
                                                          "OrderBy",
                                                          "OrderByOn",
                                                          "OrderByOnLoad",
                                                          "OrderOn",
                                                          "Filter",
                                                          "FilterOn",
                                                          "FilterOnLoad",
                                                          "DefaultView",
                                                          "Orientation",
                                                          "DatasheetFontName",
                                                          "DatasheetFontHeight",
                                                          "DatasheetFontWeight",
                                                          "DatasheetFontItalic",
                                                          "DatasheetFontUnderline",
                                                          "DatasheetForeColor",
                                                          "DatasheetBackColor",
                                                          "DatasheetGridlinesColor",
                                                          "DatasheetGridlinesBehavior",
                                                          "DatasheetCellsEffect",
                                                          "ShowGrid",
                                                          "RowHeight",
                                                          "FrozenColumns",
                                                          "TabularCharSet",
                                                          "TabularFamily",
                                                          "SubdatasheetName",
                                                          "SubdatasheetHeight",
                                                          "SubdatasheetExpanded",
                                                          "LinkChildFields",
                                                          "LinkMasterFields",
                                                          "HideNewField",
                                                          "TotalsRow",
                                                          "BackTint",
                                                          "BackShade",
                                                          "ThemeFontIndex",
                                                          "AlternateBackThemeColorIndex",
                                                          "AlternateBackTint",
                                                          "AlternateBackShade",
                                                          "DatasheetGridlinesThemeColorIndex",
                                                          "DatasheetForeThemeColorIndex",
                                                          "DisplayViewsOnSharePointSite",
                                                          "PublishToWeb",
                                                          "ReadOnlyWhenDisconnected"};

// The properties the database enforces: the Norvane table holds them, the link does not.
inline constexpr const char* kTargetProperties[] = {
    "DefaultValue", "ValidationRule", "ValidationText", "Required", "AllowZeroLength"};

// The properties each object has its own of: a link gets new ones instead of the original's.
inline constexpr const char* kOwnProperties[] = {"GUID", "NameMap"};

// Whether `name` is one of `list`, compared as Access compares property names (without regard
// to letter case).
template <std::size_t N>
bool IsListedProperty(const char* const (&list)[N], std::string_view name) {
  return std::any_of(std::begin(list), std::end(list),
                     [&](std::string_view p) { return EqualsNoCase(p, name); });
}

// Whether a link leaves the property `name` of a table (column false) or of a column behind: it
// is neither carried onto the link, nor one the link has its own of, nor held by the target.
bool LeftOffLinks(std::string_view name, bool column);

// The tables a lookup's row source names: the source itself when it is a name (brackets
// removed), otherwise each name after FROM or JOIN of its SELECT (and after a comma in a FROM
// list).
std::vector<std::string> RowSourceTables(const std::string& source);

}  // namespace platform
