// The page's conversions: the files the page wrote into the module's memory
// file system converted by the batch engine as the programs convert them
// (the same plan, readers and writers, single-threaded), the results told
// back to the page as JSON, the progress as it goes.
#include <emscripten/emscripten.h>

#include <cstdio>
#include <string>
#include <vector>

#include "convert/plan.h"
#include "support/errors.h"
#include "support/threads.h"

namespace {

std::string Json(const std::string& text) {
  std::string out = "\"";
  for (const unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", c);
      out += escape;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

// Every transfer's end as a JSON object; the progress to the page's worker.
class TPageObserver final : public veloran::IBatchObserver {
 public:
  bool Finished(const veloran::TBatchItem& item, size_t) override {
    std::string lines;
    for (const std::string& line : item.Report) lines += (lines.empty() ? "" : ",") + Json(line);
    Items += (Items.empty() ? "" : ",") + std::string("{\"label\":") + Json(item.Label) +
             ",\"ok\":" + (item.Ok ? "true" : "false") + ",\"output\":" + Json(item.Ok ? item.Output : "") +
             ",\"picture\":" + Json(item.Ok && !item.PictureFailed ? item.Png : "") +
             ",\"notice\":" + Json(item.Notice) + ",\"error\":" + Json(item.Error) + ",\"report\":[" + lines + "]}";
    return true;
  }
  void Progress(int percent, size_t done, size_t total, const std::string&) override {
    EM_ASM({ if (Module.onProgress) Module.onProgress($0, $1, $2); }, percent, static_cast<int>(done),
           static_cast<int>(total));
  }
  std::string Items;
};

}  // namespace

// The output formats as the command line's --format names them, with their
// long names and their own options, the default first: [{"name":...}].
extern "C" EMSCRIPTEN_KEEPALIVE const char* VeloranFormats() {
  static std::string formats;
  if (formats.empty()) {
    for (const veloran::TOutputFormat& format : veloran::OutputFormats()) {
      std::string options;
      for (std::string_view option : format.Options) options += (options.empty() ? "" : ",") + Json(std::string(option));
      formats += (formats.empty() ? "" : ",") + std::string("{\"name\":") + Json(format.Name) +
                 ",\"longName\":" + Json(format.LongName) + ",\"options\":[" + options + "]}";
    }
    formats = "[" + formats + "]";
  }
  return formats.c_str();
}

// Converts every transfer `inputs` (paths, one a line: folders and
// archives) hold into the folder `output`, in the format named `format`
// (as --format takes it), with a shaded-relief picture of each in
// `pictures`. Returns {"items":[...],"error":"..."}; the text stays valid
// until the next call.
extern "C" EMSCRIPTEN_KEEPALIVE const char* VeloranConvert(const char* inputs, const char* format, int addNewLines,
                                                           const char* output, const char* pictures) {
  static std::string result;
  try {
    std::vector<std::string> args;
    std::string rest = inputs;
    for (size_t at; (at = rest.find('\n')) != std::string::npos; rest.erase(0, at + 1))
      if (at > 0) args.push_back(rest.substr(0, at));
    if (!rest.empty()) args.push_back(rest);
    veloran::TAsked asked;
    asked.Output = output;
    asked.Preview = pictures;
    asked.Format = veloran::FindOutputFormat(format);
    asked.AddNewLines = addNewLines != 0;
    asked.OptionsAsChoices = true;
    asked.Sync = false;  // memory: nothing to make durable
    asked.Recursive = true;
    veloran::TPlan plan = veloran::Plan(asked);
    if (!plan.Refused.empty()) veloran::Fail(veloran::TErrorKind::OutputIo, plan.Refused);
    veloran::TExecutor none(0);  // the page's worker is the one thread
    plan.Options.Executor = &none;
    TPageObserver observer;
    veloran::TBatch batch(plan.Options, args, observer);
    const veloran::TBatchResult done = batch.Run();
    result = "{\"items\":[" + observer.Items + "],\"error\":" + Json(done.Fatal) + "}";
  } catch (...) {
    result = "{\"items\":[],\"error\":" + Json(veloran::CurrentFailure().what()) + "}";
  }
  return result.c_str();
}
