<?php

declare(strict_types=1);

namespace Kestrum;

/** The host answered, and refused (its reason is the message) or answered an HTTP error. */
class HostException extends KestrumException
{
}
