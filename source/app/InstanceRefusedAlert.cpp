#include "InstanceRefusedAlert.h"

#include "StringResources.h"

#include <juce_gui_basics/juce_gui_basics.h>

void showInstanceRefusedAlert(int checkResult)
{
    // Stand-in until the program's own alert window exists.
    juce::AlertWindow::showMessageBox(juce::MessageBoxIconType::WarningIcon,
                                      getTranslatedString(StringId::ApplicationName),
                                      getTranslatedString(StringId::InstanceName + checkResult),
                                      getTranslatedString(StringId::Ok));
}
