<?php

declare(strict_types=1);

namespace Kestrum;

/** libtbxapp could not be loaded; the message names every place that was tried. */
class LibraryNotFoundException extends \RuntimeException
{
}
