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

inline constexpr const char* kColumnDisplayProperties[] = {
    "Caption",       "Description", "Format",      "DecimalPlaces", "InputMask",   "DisplayControl",
    "RowSourceType", "RowSource",   "BoundColumn", "ColumnCount",   "ColumnHeads", "ColumnWidths",
    "ListRows",      "ListWidth",   "LimitToList", "ColumnWidth",   "ColumnOrder", "ColumnHidden"};

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
                                                          "TotalsRow"};

// Whether `name` is one of `list`, compared as Access compares property names (without regard
// to letter case).
template <std::size_t N>
bool IsListedProperty(const char* const (&list)[N], std::string_view name) {
  return std::any_of(std::begin(list), std::end(list),
                     [&](std::string_view p) { return EqualsNoCase(p, name); });
}

// The tables a lookup's row source names: the source itself when it is a name (brackets
// removed), otherwise each name after FROM or JOIN of its SELECT (and after a comma in a FROM
// list).
std::vector<std::string> RowSourceTables(const std::string& source);

}  // namespace platform
