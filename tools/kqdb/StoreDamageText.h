#pragma once

#include "attendance/LocalStore.h"

#include <QString>

// What kqdb says on standard error when opening a local store found it (or the record of
// swipes beside it) damaged or gone and mended it from the other copy: every command that
// opens the store says it in these words.
QString storeDamageText(const LocalStore::Damage& damage);
