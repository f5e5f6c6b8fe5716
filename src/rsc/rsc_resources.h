// Resource ids of qz-rsc.exe's own resources.
#pragma once

// The resource-only module that a new resource module starts from.
#define IDR_MODULE_TEMPLATE 1
