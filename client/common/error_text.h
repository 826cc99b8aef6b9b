#pragma once
// The one kind of exception the client throws: a text for the user.
// Thrown by value; whoever catches it shows the text and lets it go.
#include <string>
#include <utility>

struct ErrorText {
    std::string text;
    explicit ErrorText(std::string t) : text(std::move(t)) {}
};
