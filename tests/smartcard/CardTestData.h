#pragma once
// ATRs of the virtual test cards and the card types that carddb.sh registers.

// Matches "Tarvosel Prueba 1" (masked) and "Tarvosel Prueba 2" (exactly).
#define ATR_BOTH_TYPES "3B7F380000006A54564C53454C01020304059000"
// Same family, other serial bytes: only the mask of "Tarvosel Prueba 1" fits.
#define ATR_MASKED_ONLY "3B7F380000006A54564C53454C0A0B0C0D0E9000"
#define ATR_OTHER "3B7F380000006A4F5452414A4F4B455200009000"
// Ten bytes whose first eight are "Tarvosel Corta"'s eight-byte ATR and mask.
#define ATR_LONGER_THAN_MASK "3B0854564C434F525441"
#define ATR_UNKNOWN "3B7F380000006A554E4B4E4F574E000000009000"

// The signing cards of vcard.py ("insert R ATR APP") and their card types.
#define ATR_DNIE_CARD "3B8F800154564C20444E49452050525545424157"
#define ATR_TEMD_CARD "3B8F800154564C2054454D442050525545424149"
#define CARD_NAME_DNIE "Tarvosel DNIe Prueba"
#define CARD_NAME_TEMD "Tarvosel TEMD Prueba"
#define APP_DNIE "dnie"
#define APP_TEMD "temd"
#define PIN_DNIE "1234"
#define PIN_TEMD "2468"
// Provider names of the bench's card key provider (carddb.sh registers them).
#define PROVIDER_DNIE "Tarvosel DNIe Prueba CSP"
#define PROVIDER_TEMD "TEMD_CSP"
