<?php

declare(strict_types=1);

namespace Kestrum;

/** The configuration store is missing, not set up, unreadable or not well-formed. */
class StoreException extends KestrumException
{
}
