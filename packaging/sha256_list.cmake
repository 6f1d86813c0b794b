# Writes SHA256SUMS.txt beside the installed files, in the format of
# `sha256sum -c` (and readable by hand: hash, two spaces, path).
file(GLOB_RECURSE files RELATIVE "${ZV_DIST_ROOT}" "${ZV_DIST_ROOT}/*")
list(REMOVE_ITEM files SHA256SUMS.txt)
list(SORT files)
set(lines "")
foreach(file IN LISTS files)
  file(SHA256 "${ZV_DIST_ROOT}/${file}" hash)
  string(APPEND lines "${hash}  ${file}\n")
endforeach()
file(WRITE "${ZV_DIST_ROOT}/SHA256SUMS.txt" "${lines}")
