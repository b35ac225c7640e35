#include "services/file_methods.h"

#include <string>

#include "browser/host_dispatch.h"
#include "data/database_file_json.h"
#include "platform/file_system.h"
#include "services/file_move.h"
#include "services/page_paths.h"
#include "services/service_arguments.h"
#include "util/base64.h"
#include "util/directory_tree.h"
#include "util/file_io.h"
#include "util/path_names.h"
#include "util/text_encoding.h"

namespace {

ScriptValue Flag(bool done) {
  return ScriptValue::Int32(done ? 1 : 0);
}

// A file within a directory argument. The name is joined as it is: it may
// reach into subdirectories.
std::string PageFile(const std::vector<ScriptValue>& arguments, size_t directory, size_t name) {
  return JoinPath(ResolvePagePath(TextArgument(arguments, directory)),
                  ForwardSlashes(TextArgument(arguments, name)));
}

}  // namespace

ScriptValue GetPageFileList(const std::vector<ScriptValue>& arguments) {
  std::string directory = ResolvePagePath(TextArgument(arguments, 0));
  std::string pattern = ForwardSlashes(TextArgument(arguments, 1));
  bool descend = IntegerOf(arguments, 2, kIntegerNumbers | kIntegerBytes) != 0;
  // A directory part of the pattern ("sub/*.txt") is where the names are
  // looked for; they come back relative to it.
  size_t slash = pattern.rfind('/');
  if (slash != std::string::npos) {
    directory = JoinPath(directory, pattern.substr(0, slash));
    pattern.erase(0, slash + 1);
  }
  NameList names;
  ListFiles(names, directory, pattern, descend ? kListDescend : 0);
  std::string joined;
  for (const std::string& name : names) {
    if (!joined.empty()) joined += '*';
    joined += name;
  }
  return TextResult(joined);
}

ScriptValue ReadPageFile(const std::vector<ScriptValue>& arguments) {
  std::string text;
  if (!ReadTextFileAsAnsi(PageFile(arguments, 0, 1), text)) text.clear();
  return TextResult(text);
}

ScriptValue WritePageFile(const std::vector<ScriptValue>& arguments) {
  std::string content = TextArgument(arguments, 2);
  return Flag(WriteWholeFile(content.data(), content.size(), PageFile(arguments, 0, 1)));
}

ScriptValue AppendPageFile(const std::vector<ScriptValue>& arguments) {
  return Flag(AppendTextToFile(TextArgument(arguments, 2), PageFile(arguments, 0, 1)));
}

ScriptValue MovePageFile(const std::vector<ScriptValue>& arguments) {
  if (arguments.size() != 3 && arguments.size() != 4) return Flag(false);
  std::string name = TextArgument(arguments, 1);
  std::string new_name = arguments.size() == 4 ? TextArgument(arguments, 3) : "";
  if (new_name.empty()) new_name = name;
  if (name.empty()) return Flag(false);
  std::string source = PageFile(arguments, 0, 1);
  std::string target_directory = ResolvePagePath(TextArgument(arguments, 2));
  CreateDirectoryTree(target_directory);
  return Flag(MoveFileReplacing(source, JoinPath(target_directory, ForwardSlashes(new_name))));
}

ScriptValue DeletePageFile(const std::vector<ScriptValue>& arguments) {
  std::string path = ResolvePagePath(TextArgument(arguments, 0));
  return Flag(!platform::IsDirectory(path) && platform::RemoveFile(path));
}

ScriptValue PageFileToBase64(const std::vector<ScriptValue>& arguments) {
  if (arguments.empty()) return TextResult("");
  std::string data;
  if (!ReadWholeFile(ForwardSlashes(TextArgument(arguments, 0)), data)) return TextResult("");
  std::string text;
  CBase64Coding().EncodeRawToText(data.data(), data.size(), text);
  return TextResult(text);
}

ScriptValue ReadPageDataFile(const std::vector<ScriptValue>& arguments) {
  bool names_only = arguments.size() >= 2 &&
                    IntegerOf(arguments, 1,
                              kIntegerNumbers | kIntegerBytes | kIntegerText | kIntegerTextRef) != 0;
  std::string statement = arguments.size() >= 3 ? TextArgument(arguments, 2) : "";
  return TextResult(
      ReadDatabaseFileJson(ForwardSlashes(TextArgument(arguments, 0)), names_only, statement));
}
