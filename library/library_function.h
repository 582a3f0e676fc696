#pragma once
// The four conversions, as a job names the one it needs.

enum class LibraryFunction { ConvertiMime64, DecifraMime64, ConvertiPrintable, DecifraPrintable };
