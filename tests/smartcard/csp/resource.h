// The PIN dialog of the bench's card key provider; the card tests drive it
// through these identifiers.
#define IDD_PIN 100
#define IDC_PIN_TEXT 1001
#define IDC_PIN_EDIT 1002
#define IDC_PIN_TRIES 1003
