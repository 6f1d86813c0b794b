#pragma once

#define IDR_IECATCHER 102
#define IDS_PROJNAME 100
#define IDS_IECATCHER_DESC 101
