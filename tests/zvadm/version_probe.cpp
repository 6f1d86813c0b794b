// A module whose only content that matters is its version resource; the
// file-replacement tests compare two builds of it.
int zv_version_probe_marker = 1;
