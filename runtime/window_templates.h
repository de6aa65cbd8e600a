#pragma once
// The uic classes of the batch and rate-table windows' templates, Ui::BatchWindow and
// Ui::RateTableWindow (runtime/templates/*.ui), generated with the iit_window_templates
// library. A window class calls setupUi(this), then SetUnitPictures() (template_pictures.h).

#include "ui_BatchWindow.h"     // IWYU pragma: export
#include "ui_RateTableWindow.h" // IWYU pragma: export
