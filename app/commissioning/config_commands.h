// The windows' "Save configuration..." and "Load configuration...": the
// dialog's eight configuration fields into a configuration file, or from one.
// Each returns an empty text when it worked, else what the window's warning
// box says; a file that cannot be used changes no field.
#pragma once

#include <string>

#include "loopset_view.h"
#include "ui_text.h"

std::string LoadConfigIntoFields(const std::string &path, ILoopsetView &view,
                                 const ITexts &texts = SourceTexts());
std::string SaveFieldsToConfig(const std::string &path, ILoopsetView &view,
                               const ITexts &texts = SourceTexts());

// The file names and filters the windows' file dialogs offer.
inline constexpr char kConfigFileName[] = "loop.json";
