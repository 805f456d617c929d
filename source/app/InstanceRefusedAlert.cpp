#include "InstanceRefusedAlert.h"

#include "KSAlertWindow.h"
#include "StringResources.h"

void showInstanceRefusedAlert(int checkResult)
{
    // 43 + result: 1 "Another Tovrak Utility is already running.", 2 "Permission denied.",
    // 3 "Unknown error.". Any other result has no text of its own and shows "Unknown error.".
    const int messageId = (checkResult >= 1 && checkResult <= 3) ? StringId::InstanceName + checkResult
                                                                 : StringId::UnknownError;
    KSAlertWindow alert(nullptr, getTranslatedString(messageId), getTranslatedString(StringId::Ok), {});
    alert.runModalLoop();
}
