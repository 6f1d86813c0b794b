#include "zorvex_rig.h"

#include <fstream>

namespace zv::test {

ProgramResult RunJScript(const std::string& script) {
  ScratchDir dir;
  const std::string file = dir.File("page.js");
  {
    std::ofstream out(file, std::ios::binary);
    out << script;
  }
  return RunProgram("cscript.exe //nologo \"" + file + "\"");
}

}  // namespace zv::test
