// The page controllers' dispatch: generic page actions first, then the
// controller table, the menu for any other controller.
#pragma once

#include "tollamy_request.h"

// Serves a request that has a session; false for exit status 1 (a failure
// answer, or no answer for an action the controller does not know).
bool tollamy_dispatch(tollamy_request *r);
