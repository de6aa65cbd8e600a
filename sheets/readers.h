#pragma once
// The readers of each format, behind readSheet(): tests and fuzz targets call them directly.

#include "sheets/sheet.h"

namespace iit::sheets {

Outcome<Sheet> readXlsx(std::string_view bytes, const ReadOptions& options);
// FreeXL opens files by path only: with an empty `path` the bytes go to a private temporary
// file first. `bytes` are the file's bytes in either case (the formula cells are found in them).
Outcome<Sheet> readXls(const std::filesystem::path& path, std::string_view bytes,
                       const ReadOptions& options);
Outcome<Sheet> readText(std::string_view bytes, const ReadOptions& options);

// The message for a file of a format that is not read.
Problem unreadableFormat(Format format);
// The message for a workbook without the worksheet asked for (any, when `sheetName` is empty).
Problem noSuchSheet(const std::string& sheetName);

} // namespace iit::sheets
