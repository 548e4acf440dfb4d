<?php

declare(strict_types=1);

namespace Kestrum;

/** A confirmation was refused: its signature does not verify, it is not signed by the host, or it
 * cannot be read. */
class SignatureException extends KestrumException
{
}
