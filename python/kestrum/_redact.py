"""Credentials removed from the texts of exceptions.

The library already redacts its messages; this is the second line for texts the package passes on.
Only credential fields are replaced, never other occurrences of a password: a short one ("o") would
otherwise cut words apart and show where it stands.
"""

from __future__ import annotations

import re

HIDDEN = "[redacted]"

# A URL's user information. The library's URL parser takes credentials up to the last "@" before
# the query, so "/", "#", quotes and spaces in a password stay inside it; the field therefore ends
# only at the query, the end of the line or the next URL.
_URL_CREDENTIALS = re.compile(r"(?<=://)(?:(?!://)[^?\r\n])*@")

# "Authorization: Basic <base64>" and "Proxy-Authorization: ..." of a request shown in a text.
_AUTHORIZATION = re.compile(r"(?i)(authorization:[ \t]*)[^\r\n]+")

# name=value, name="value", name: 'value' where the name says it is a password.
_PASSWORD_FIELD = re.compile(
    r"""(?i)(\b[\w.-]*(?:password|passwd|passphrase|pwd)[ \t]*[=:][ \t]*)"""
    r"""("[^"]*"?|'[^']*'?|[^\s&;,)<>]+)""")


def _password_value(match: "re.Match[str]") -> str:
    value = match.group(2)
    quote = value[0] if value[0] in "\"'" else ""
    closing = quote if quote and len(value) > 1 and value.endswith(quote) else ""
    return match.group(1) + quote + HIDDEN + closing


def hide_credentials(text: str) -> str:
    """`text` with the credentials of URLs, authorisation headers and password fields replaced."""
    text = _URL_CREDENTIALS.sub(HIDDEN + "@", text)
    text = _AUTHORIZATION.sub(lambda m: m.group(1) + HIDDEN, text)
    return _PASSWORD_FIELD.sub(_password_value, text)
