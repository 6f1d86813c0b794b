// Resource identifiers shared by the resource script and the code.
#pragma once

#define IDS_HANDOFF_FAILED 1
#define IDS_HANDOFF_DONE 2
#define IDS_PLEASE_WAIT 3
#define IDI_PLUGIN 101
