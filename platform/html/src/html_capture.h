// The text of the capture script for a view's capture list.
#pragma once

#include "html_view_impl.h"

#include <string>
#include <vector>

std::string html_capture_script(const std::vector<html_capture_entry> &capture);
