/* Help context numbers the program asks for. */
#define IDH_MAIN 2100
