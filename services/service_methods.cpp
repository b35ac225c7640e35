#include "services/service_methods.h"

#include <string>

#include "browser/dialog_ie.h"
#include "browser/host_dispatch.h"
#include "browser/page_command.h"
#include "platform/ui_loop.h"
#include "services/file_methods.h"
#include "services/image_process.h"
#include "services/registry_methods.h"
#include "services/service_arguments.h"
#include "services/transfer_methods.h"

namespace {

// Methods that may take long (transfers, large files, images, data files)
// run on a helper thread: the page waits for its answer, the window does
// not.
template <typename Work>
auto KeepingUiAlive(Work work) {
  decltype(work()) result{};
  platform::RunKeepingUiAlive([&] { result = work(); });
  return result;
}

ScriptValue Upload(const std::vector<ScriptValue>& arguments, PageCommandQueue& callbacks,
                   bool as_text) {
  UploadOutcome outcome = KeepingUiAlive([&] { return RunPageUpload(arguments); });
  if (outcome.code != kUploadWrongArgumentCount && !outcome.callback.empty()) {
    callbacks.PostScriptCallArgs(outcome.callback, {std::to_string(outcome.code),
                                                    outcome.answer, outcome.error_text});
  }
  if (!as_text) return ScriptValue::Int32(outcome.code);
  std::string text = std::to_string(outcome.code) + ",";
  if (outcome.code != kUploadWrongArgumentCount) {
    text += outcome.code == 0 ? outcome.answer : outcome.error_text;
  }
  return TextResult(text);
}

}  // namespace

bool InvokeServiceMethod(int id, const std::vector<ScriptValue>& arguments,
                         PageCommandQueue& callbacks, ScriptValue& result) {
  switch (id) {
    case kMethodGetFileList:
      result = GetPageFileList(arguments);
      return true;
    case kMethodReadFile:
      result = ReadPageFile(arguments);
      return true;
    case kMethodWriteFile:
      result = WritePageFile(arguments);
      return true;
    case kMethodAppendFile:
      result = AppendPageFile(arguments);
      return true;
    case kMethodMoveFile:
      result = MovePageFile(arguments);
      return true;
    case kMethodDeleteFile:
      result = DeletePageFile(arguments);
      return true;
    case kMethodFileToBase64:
      result = KeepingUiAlive([&] { return PageFileToBase64(arguments); });
      return true;
    case kMethodReadFileDB:
      result = KeepingUiAlive([&] { return ReadPageDataFile(arguments); });
      return true;
    case kMethodHttpDownload:
      result = KeepingUiAlive([&] { return HttpDownloadMethod(arguments); });
      return true;
    case kMethodHttpUpload:
      result = Upload(arguments, callbacks, false);
      return true;
    case kMethodHttpUpload2:
      result = Upload(arguments, callbacks, true);
      return true;
    case kMethodImageProcess: {
      std::vector<std::string> texts = TextsOf(arguments);
      result = TextResult(KeepingUiAlive([&] { return ImageProcess(texts); }));
      return true;
    }
    case kMethodRegisterRead:
      result = TextResult(RegisterRead(TextsOf(arguments)));
      return true;
    case kMethodRegisterWrite:
      result = TextResult(RegisterWrite(TextsOf(arguments)));
      return true;
    default:
      return false;
  }
}
