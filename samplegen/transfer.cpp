#include "samplegen/transfer.h"

#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace veloran::testing {

namespace {

const TFieldDef kRecordId{"0001", "DDF RECORD IDENTIFIER", "", "", "0100;&"};

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

}  // namespace

std::string ModulePath(const std::string& dir, const TTransferSpec& spec, const std::string& code) {
  if (const auto named = spec.FileNames.find(code); named != spec.FileNames.end()) return dir + "/" + named->second;
  const std::string name = spec.Prefix + code + ".DDF";
  return dir + "/" + (spec.LowerCaseNames ? Lower(name) : name);
}

std::string WriteTransfer(const std::string& dir, const TTransferSpec& spec) {
  auto write = [&](const std::string& code, const TDdfWriter& w) { w.WriteFile(ModulePath(dir, spec, code)); };

  TDdfWriter ddsh({kRecordId, {"DDSH", "DATA DICTIONARY/SCHEMA", "NAME!TYPE!ETLB!EUTH!ATLB!AUTH!FMT!UNIT!PREC!MXLN",
                               "(A,A,A,A,A,A,A,A,R,I)"}});
  ddsh.Record({{"0001", Text({"1"})},
               {"DDSH", Text({"CEL0", "Cell", "", "", "ELEVATION", "USGS", spec.Fmt, spec.Unit, "1.0", "5"})}});
  write("DDSH", ddsh);

  TDdfWriter iden({kRecordId, {"IDEN", "IDENTIFICATION", "MODN!RCID!STID!STVS!DOCU!PRID!PRVS!PDOC!TITL!DAID!DAST!MPDT!DCDT!SCAL",
                               "(A,I,11A,I)"}});
  iden.Record({{"0001", Text({"1"})},
               {"IDEN", Text({"IDEN", "1", "SPATIAL DATA TRANSFER STANDARD", "1994 JUNE 10", "", "Raster Profile",
                              "1.0", "", spec.Title, spec.DataId, "DEM", "1994", spec.DataDate, spec.Scale})}});
  write("IDEN", iden);

  TDdfWriter ddom({kRecordId, {"DDOM", "DATA DICTIONARY/DOMAIN", "MODN!RCID!ATLB!AUTH!ATYP!ADVF!ADMU!RAVA!DVAL",
                               "(A,I,5A,I)"}});
  for (const auto& [rcid, dval] : spec.Domain)
    ddom.Record({{"0001", Text({std::to_string(rcid)})},
                 {"DDOM", Text({"DDOM", std::to_string(rcid), "ELEVATION", "USGS", "INTEGER", "", "METERS",
                                rcid == 3 ? "MIN" : (rcid == 4 ? "MAX" : "VOID"), dval})}});
  write("DDOM", ddom);

  TDdfWriter iref({kRecordId, {"IREF", "INTERNAL SPATIAL REFERENCE",
                               "MODN!RCID!SATP!XLBL!YLBL!HFMT!SFAX!SFAY!XORG!YORG!XHRS!YHRS", "(A,I,4A,6R)"}});
  // HFMT tells other readers how a binary SADR is coded.
  iref.Record({{"0001", Text({"1"})},
               {"IREF", Text({"IREF", "1", "2-TUPLE", "EASTING", "NORTHING", spec.BinarySadr ? "BI32" : "R", spec.Sfax, spec.Sfay, spec.Xorg,
                              spec.Yorg, spec.Xhrs, spec.Yhrs})}});
  write("IREF", iref);

  TDdfWriter xref({kRecordId, {"XREF", "EXTERNAL SPATIAL REFERENCE", "MODN!RCID!RSNM!HDAT!ZONE", "(A,I,2A,I)"}});
  xref.Record({{"0001", Text({"1"})}, {"XREF", Text({"XREF", "1", spec.Rsnm, spec.Hdat, spec.Zone})}});
  write("XREF", xref);

  TDdfWriter rsdf({kRecordId, {"RSDF", "RASTER DEFINITION", "MODN!RCID!OBRP!AREA!MTHD!CSTR!SCOR", "(A,I,5A)"},
                   {"SADR", "SPATIAL ADDRESS", "X!Y", spec.BinarySadr ? "(2B(32))" : "(2R)"},
                   {"LYID", "LAYER ID", "MODN!RCID", "(A,I)"}});
  rsdf.Record({{"0001", Text({"1"})},
               {"RSDF", Text({"RSDF", "1", "G2", "", "", "", "TL"})},
               {"SADR", spec.BinarySadr ? BinInt32({spec.BinSadrX, spec.BinSadrY}) : Text({spec.SadrX, spec.SadrY})},
               {"LYID", Text({"LDEF", "1"})}});
  write("RSDF", rsdf);

  TDdfWriter spdm({kRecordId, {"SPDM", "SPATIAL DOMAIN", "MODN!RCID!DTYP!DSTP", "(A,I,2A)"},
                   {"DMSA", "DOMAIN SPATIAL ADDRESS", "*X!Y", "(2R)"}});
  spdm.Record({{"0001", Text({"1"})}, {"SPDM", Text({"SPDM", "1", "MINMAX", "2-TUPLE"})}, {"DMSA", Text(spec.Corners)}});
  write("SPDM", spdm);

  const bool hasFloats = !spec.FloatRows.empty();
  const size_t rowCount = hasFloats ? spec.FloatRows.size() : spec.Rows.size();
  const size_t colCount = rowCount == 0 ? 0 : hasFloats ? spec.FloatRows[0].size() : spec.Rows[0].size();
  const std::string nrow = spec.Nrow == "-" ? std::to_string(rowCount) : spec.Nrow;
  const std::string ncol = spec.Ncol == "-" ? std::to_string(colCount) : spec.Ncol;
  TDdfWriter ldef({kRecordId, {"LDEF", "LAYER DEFINITION", "MODN!RCID!CMNM!LYID!RAST!NROW!NCOL!SORI!SOCI!INTR",
                               "(A,I,3A,4I,A)"}});
  ldef.Record({{"0001", Text({"1"})},
               {"LDEF", Text({"LDEF", "1", "CEL0", "1", "RSDF", nrow, ncol, "1", "1", "CE"})}});
  write("LDEF", ldef);

  const bool floats = !spec.FloatRows.empty();
  TDdfWriter cel({kRecordId, {"CELL", "CELL", "MODN!RCID!ROWI!COLI", "(A,3I)"},
                  {"CVLS", "CELL VALUES", "*ELEVATION", floats ? "(B(32))" : "(B(16))"}});
  const size_t rows = floats ? spec.FloatRows.size() : spec.Rows.size();
  // Rows of more than 9,999 bytes need wider field lengths in the directory.
  if (colCount * (floats ? 4 : 2) + 1 > 9999) cel.SizeOfFieldLength = cel.SizeOfFieldPos = 6;
  for (size_t r = 0; r < rows; ++r) {
    // Fixed-width record numbers keep leaderless records the same length.
    char rcid[24];
    std::snprintf(rcid, sizeof rcid, "%0*zu", rows < 1000000 ? 6 : 7, r + 1);
    std::vector<TFieldData> fields = {{"0001", Text({rcid})},
                                      {"CELL", Text({"CEL0", rcid, r < spec.RowNumbers.size() ? spec.RowNumbers[r] : rcid,
                                                             spec.FirstColumn})},
                                      {"CVLS", floats ? Float32Cells(spec.FloatRows[r]) : Int16Cells(spec.Rows[r])}};
    if (spec.RepeatRecords && r > 0) {
      cel.LeaderlessRecord(fields);
    } else {
      cel.Record(fields, spec.RepeatRecords ? 'R' : 'D');
    }
  }
  write("CE" + std::string("L0"), cel);

  if (spec.Catalog) {
    TDdfWriter catd({kRecordId, {"CATD", "CATALOG/DIRECTORY", "MODN!RCID!NAME!TYPE!FILE", "(A,I,3A)"}});
    const std::pair<const char*, const char*> modules[] = {
        {"IDEN", "Identification"},         {"CATD", "Catalog/Directory"},
        {"IREF", "Internal Spatial Reference"}, {"XREF", "External Spatial Reference"},
        {"LDEF", "Layer Definition"},       {"RSDF", "Raster Definition"},
        {"DDSH", "Data Dictionary/Schema"}, {"DDOM", "Data Dictionary/Domain"},
        {"SPDM", "Spatial Domain"},         {"CEL0", "Cell"}};
    int rcid = 0;
    for (int i = 1; i <= spec.CatalogPadding; ++i) {
      const std::string code = "DQ" + std::string(i < 10 ? "0" : "") + std::to_string(i);
      catd.Record({{"0001", Text({std::to_string(++rcid)})},
                   {"CATD", Text({"CATD", std::to_string(rcid), code, "Data Quality", spec.Prefix + code + ".DDF"})}});
    }
    for (const auto& [code, type] : modules) {
      const std::string path = ModulePath(dir, spec, code);
      catd.Record({{"0001", Text({std::to_string(++rcid)})},
                   {"CATD", Text({"CATD", std::to_string(rcid), spec.LowerCaseCatalogNames ? Lower(code) : code, type,
                                  path.substr(path.rfind('/') + 1)})}});
    }
    write("CATD", catd);
  }
  return ModulePath(dir, spec, "CEL0");
}

TTempDir::TTempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "veloran-XXXXXX").string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  DirPath = pattern;
}

TTempDir::~TTempDir() {
  std::error_code ec;
  std::filesystem::permissions(DirPath, std::filesystem::perms::owner_all, std::filesystem::perm_options::add, ec);
  std::filesystem::remove_all(DirPath, ec);
}

std::string ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

void WriteFileBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

}  // namespace veloran::testing
