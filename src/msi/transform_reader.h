// The value a transform gives to a property, read through a scratch database.
#pragma once
#include <string>

#include "system/path_helpers.h"

// A new committed installer database in a temporary file, with the tables the query creates.
TmpFile& _GetEmptyDB(TmpFile& database, const wchar_t* createQuery);

// 1 with the value when the transform sets the property; 0 otherwise (`value` untouched).
int _GetTranPropVal(const std::wstring& transformPath, const std::wstring& property, std::wstring& value);
