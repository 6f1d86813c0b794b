#include "registration.h"

#include "com/registrar.h"

namespace zv::test {

using zv::com::ComPtr;
using zv::com::UniqueBstr;

namespace {
std::wstring Text(const UniqueBstr& text) { return text.get() ? std::wstring(text.get(), text.Length()) : L""; }
}  // namespace

void PrintTo(const Documentation& d, std::ostream* out) {
  *out << "{" << zv::com::Narrow(d.name) << ", " << zv::com::Narrow(d.help) << "}";
}

void PrintTo(const LibraryFacts& f, std::ostream* out) {
  *out << "{" << f.guid << " lcid " << f.lcid << " " << f.major << "." << f.minor << " ";
  PrintTo(f.documentation, out);
  *out << "}";
}

std::string GuidText(const GUID& guid) {
  wchar_t text[40] = {};
  StringFromGUID2(guid, text, 40);
  return zv::com::Narrow(text);
}

LibraryFacts FactsOf(ITypeLib* library) {
  LibraryFacts facts;
  if (!library) return facts;
  TLIBATTR* attributes = nullptr;
  if (SUCCEEDED(library->GetLibAttr(&attributes))) {
    facts.guid = GuidText(attributes->guid);
    facts.lcid = attributes->lcid;
    facts.major = attributes->wMajorVerNum;
    facts.minor = attributes->wMinorVerNum;
    library->ReleaseTLibAttr(attributes);
  }
  UniqueBstr name, help;
  if (SUCCEEDED(library->GetDocumentation(-1, name.put(), help.put(), nullptr, nullptr)))
    facts.documentation = {Text(name), Text(help)};
  return facts;
}

Documentation DocumentationOf(ITypeInfo* info, MEMBERID member) {
  UniqueBstr name, help;
  if (!info || FAILED(info->GetDocumentation(member, name.put(), help.put(), nullptr, nullptr))) return {};
  return {Text(name), Text(help)};
}

ComPtr<ITypeLib> RegisteredLibrary(REFGUID libid, HRESULT* hr) {
  ComPtr<ITypeLib> library;
  const HRESULT loaded = LoadRegTypeLib(libid, 1, 0, 0x409, library.put());
  if (hr) *hr = loaded;
  return library;
}

LibraryFacts RegisteredLibraryFacts(REFGUID libid) { return FactsOf(RegisteredLibrary(libid).get()); }

}  // namespace zv::test
