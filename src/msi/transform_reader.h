// The value a transform gives to a property, read through a scratch database.
#pragma once
#include <windows.h>

#include <string>

#include "system/path_helpers.h"

// A new committed installer database in a temporary file, with the tables the query creates.
TmpFile& _GetEmptyDB(TmpFile& database, const wchar_t* createQuery);

// 1 with the value when the transform sets the property; 0 otherwise (`value` untouched).
int _GetTranPropVal(const std::wstring& transformPath, const std::wstring& property, std::wstring& value);

// Whether the transform applies to the package: the package is opened
// read-only and the transform applied to it in memory, with the error
// conditions the transform itself suppresses (as the installer applies it);
// nothing is written. ERROR_SUCCESS, or the installer's error.
UINT ApplyTransformInMemory(const std::wstring& packagePath, const std::wstring& transformPath);

// The error conditions a transform suppresses when it is applied (the low
// word of its Character Count summary property, MSITRANSFORM_ERROR_* bits);
// 0 when its summary information has none or cannot be read.
int SuppressedTransformErrors(const std::wstring& transformPath);
