// Handlers of the archive download and the script transfer.
#include "form1.h"

void TForm1::ButBegRetroClick() {}
void TForm1::ButContRetroClick() {}
void TForm1::DownScrClick() {}
void TForm1::ButtonUpClick() {}
void TForm1::Down_testikClick() {}
