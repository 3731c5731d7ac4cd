// Handlers of the configuration link: status query, test mode, reboot and the
// configuration transfer.
#include "form1.h"

void TForm1::TestClick() {}
void TForm1::Set_TestClick() {}
void TForm1::BuRebootClick() {}
void TForm1::OpeClick() {}
void TForm1::SavClick() {}
void TForm1::UplClick() {}
void TForm1::Upl_testClick() {}
void TForm1::Down_testClick() {}
