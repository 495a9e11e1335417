// The program: start-up, the frame loop with its fixed tic, shutdown.
#pragma once

int app_main(int argc, char **argv);
