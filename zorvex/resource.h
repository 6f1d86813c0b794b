#pragma once

#define IDS_PROJNAME 100
#define IDR_NNCATCHER 101
#define IDR_ADDURL 102
