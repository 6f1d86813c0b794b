// What the demo needs around the file jobs:
//   file_aid hold FILE MARKER   keeps FILE open (read sharing only) until the
//                               file MARKER exists, at most 60 s; prints
//                               "holding" once it holds FILE
//   file_aid pending FOLDER     prints the pending restart renames whose
//                               source lies in FOLDER, one "source -> target" a line
//   file_aid clear FOLDER       drops them
#include <cstdio>
#include <cstring>

#include "adm_test_support.h"

int main(int argc, char** argv) {
  if (argc != 3 && argc != 4) return 64;
  const std::string command = argv[1];
  if (command == "hold" && argc == 4) {
    zv::test::adm::HeldFile file(argv[2], FILE_SHARE_READ);
    if (!file.held()) return 2;
    std::printf("holding\n");
    std::fflush(stdout);
    for (int i = 0; i < 600 && !zv::test::adm::Exists(argv[3]); ++i) Sleep(100);
    return 0;
  }
  if (command == "pending") {
    for (const auto& rename : zv::test::adm::PendingRenamesFrom(argv[2]))
      std::printf("%s -> %s\n", rename.source.c_str(), rename.target.empty() ? "(delete)" : rename.target.c_str());
    return 0;
  }
  if (command == "clear") {
    zv::test::adm::ClearPendingRenamesFrom(argv[2]);
    return 0;
  }
  return 64;
}
