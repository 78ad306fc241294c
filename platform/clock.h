#pragma once
// The wall clock as the user reads it.

// The local time now, in seconds since midnight (0 to 86399).
int LocalSecondOfDay();
