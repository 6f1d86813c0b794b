#pragma once

#define IDR_HTTPPLUGPROT 101
