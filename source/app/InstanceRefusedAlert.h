#pragma once

// Shows the alert for a refused start (single-instance result 1 or 3: the text of string
// 43 + result, one "OK" button, no owner) and waits until it is closed.
void showInstanceRefusedAlert(int checkResult);
