#include "convert/plan.h"

#include "support/textutil.h"
#include "support/threads.h"

namespace veloran {

TPlan Plan(const TAsked& asked) {
  TPlan plan;
  TBatchOptions& options = plan.Options;
  auto refuse = [&](const std::string& why) {
    plan.Refused = why;
    return plan;
  };
  if (asked.Output) {
    if (asked.Output->empty()) return refuse("option -o needs a PATH");
    // "-": the output goes to standard output, the report to standard error.
    options.HaveOutput = true;
    options.Output = *asked.Output == "-" ? "/dev/stdout" : *asked.Output;
    options.OutputIsDir = IsFolder(options.Output);
  }
  options.Format = asked.Format ? asked.Format : &DemFormat();
  // -o NAME.tif asks for a GeoTIFF.
  if (!asked.Format && options.HaveOutput && !options.OutputIsDir)
    options.Format = &FormatForName(options.Output, *options.Format);
  // An option of one format given with another is a mistake, not a no-op.
  for (const auto& [given, option] : {std::pair{asked.AddNewLines, "add-new-lines"}}) {
    const TOutputFormat* owner = OptionOwner(option);
    if (given && owner && owner != options.Format && !asked.OptionsAsChoices)
      return refuse(std::string("--") + option + " applies to the " + owner->LongName + " format only");
  }
  options.AddNewLines = asked.AddNewLines && OptionOwner("add-new-lines") == options.Format;
  if (asked.Preview) {
    if (asked.Preview->empty()) return refuse("option --preview needs a PATH");
    options.HavePreview = true;
    options.Preview = *asked.Preview;
    options.PreviewIsDir = IsFolder(options.Preview);
  }
  for (const auto& [given, path] : {std::pair{options.HaveOutput, options.Output}, {options.HavePreview, options.Preview}})
    if (given && path.back() == '/' && !IsFolder(path)) return refuse("there is no folder " + path);
  options.Sync = asked.Sync;
  options.Recursive = asked.Recursive;
  options.NameFromInput = asked.NameFromInput;
  options.KeepReports = !asked.Quiet;
  options.Jobs = asked.Jobs.value_or(1);
  plan.Threads = asked.Jobs && *asked.Jobs > 0 ? *asked.Jobs : Processors();
  return plan;
}

std::string RefuseOneFile(const TBatchOptions& options, size_t transfers) {
  if (transfers <= 1) return {};
  if (options.HaveOutput && !options.OutputIsDir)
    return "-o " + options.Output + " is no existing folder, but there are " + std::to_string(transfers) +
           " transfers";
  if (options.HavePreview && !options.PreviewIsDir)
    return "--preview " + options.Preview + " is no existing folder, but there are " + std::to_string(transfers) +
           " transfers";
  return {};
}

}  // namespace veloran
