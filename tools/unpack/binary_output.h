// Standard output without any translation of line ends.
#pragma once

void SetBinaryOutput();
