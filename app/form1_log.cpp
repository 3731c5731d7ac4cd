// Handlers of the event log and the service commands of the register and log link.
#include "form1.h"

void TForm1::ButContLogClick() {}
void TForm1::ButBegLogClick() {}
void TForm1::ButCountLogClick() {}
void TForm1::ButMaxLogClick() {}
void TForm1::ButKillLogClick() {}
void TForm1::StartLogClick() {}
void TForm1::StopLogClick() {}
void TForm1::Button3Click() {}
void TForm1::Button4Click() {}
void TForm1::Button5Click() {}
