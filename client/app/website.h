#pragma once
// Opens the lobby's website (the compiled-in site root) in the user's browser.
void openWebsite();
