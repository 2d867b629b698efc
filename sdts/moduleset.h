// Naming and opening the module files of a transfer.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "iso8211/stream.h"
#include "sdts/sdtsinfo.h"

namespace veloran {

void SplitCellFileName(TModuleSet& moduleSet, const std::string& cellPath);

// TransferDir + the file the catalog names for `code`, or else
// TransferDir + TransferPrefix + code + ".DDF".
std::string ModuleFileName(const TModuleSet& moduleSet, std::string_view code);

// Selects the transfer that `chosenPath` is a file of: its cell module, its
// catalog (CATD) or any other of its modules. Where the catalog is there,
// the module files are those it names; without it, the prefix rule. Sets
// the module set and returns the path of the cell module. Fails with
// "Cannot open file %s: <reason>", "%s is not a module of an SDTS
// transfer", or "The transfer PREFIX in FOLDER is incomplete: its MODULE
// module (FILE) is missing" for each module the conversion reads.
std::string SelectTransfer(TModuleSet& moduleSet, const std::string& chosenPath,
                           const ITransferSource& source = DiskFiles());

// Whether the transfer that `chosenPath` is a file of holds a raster cell
// module: its catalog lists one, or one is named by the prefix rule. Reads
// no more than the folder's names and the catalog; never fails.
bool HoldsCellModule(const std::string& chosenPath, const ITransferSource& source = DiskFiles());

// Whether the catalog (CATD module) at `catalogPath` lists a cell module
// that is there: reads that file alone and looks up the files it lists;
// never fails.
bool CatalogListsCellModule(const std::string& catalogPath, const ITransferSource& source = DiskFiles());

// Every file of the selected transfer: the catalog first, then each module
// it lists that is there; without a catalog, the folder's files named by
// the transfer's prefix, a module code and ".DDF".
std::vector<std::string> TransferFiles(const TModuleSet& moduleSet);

// Opens the module file read-only, from the module set's source. When the
// formed name does not exist, a file in the transfer's directory whose name
// equals it ignoring case is opened instead (transfers are often unpacked in
// lower case); where both exist, the one in the case of the chosen cell
// file's name is taken. Fails with "Cannot open file %s: <reason>", or the
// incomplete-transfer message of SelectTransfer when the file is missing.
std::unique_ptr<TStream> OpenModule(const TModuleSet& moduleSet, std::string_view code);

// Fails with "Cannot open file %s: <reason>" (for a FIFO or a device, ": it
// is not a regular file") unless the chosen cell file exists and is a
// regular file of the source: a missing name must never lead to a sibling
// transfer; and with "%s is not a module of an SDTS transfer" unless its
// name ends in ".DDF" (in any case).
void CheckCellFile(const std::string& cellPath, const ITransferSource& source = DiskFiles());

// Fails with "Cannot create file %s: ..." when `demPath` is, after following
// links, the cell file or any file of the transfer (a file in TransferDir
// named prefix + code + ".DDF", in any letter case), or, for a transfer
// read from an archive, the archive.
void CheckNotTransferFile(const TModuleSet& moduleSet, const std::string& cellPath, const std::string& demPath);

// Codes 0 to 10 for "BI8" ... "BFP64"; any other text gets kUnknownCellFormat.
inline constexpr uint8_t kInt16CellFormat = 1;
inline constexpr uint8_t kFloatCellFormat = 9;
inline constexpr uint8_t kUnknownCellFormat = 255;
uint8_t CellFormatCode(std::string_view fmt);

}  // namespace veloran
