<?php

declare(strict_types=1);

namespace Kestrum;

use Kestrum\Internal\Calls;
use Kestrum\Internal\Errors;
use Kestrum\Internal\Text;

/**
 * A merchant's configuration store, a directory set up with Store::setup.
 *
 * A Store holds only its path: every call opens the store, creates the library's objects it needs
 * and destroys them before it returns, so nothing lives from one request to the next.
 */
final class Store
{
    /** The store's directory, absolute, or its http(s) URL as given. */
    public readonly string $path;

    public function __construct(string $path)
    {
        // The library reads a store named "http:..." or "https:..." over HTTP; only a directory is
        // made absolute, so that a later chdir does not move it.
        if (!preg_match('~^https?:~', $path) && !str_starts_with($path, '/')) {
            $path = rtrim((string) getcwd(), '/') . '/' . $path;
        }
        $this->path = Text::arg($path, 'the store path');
    }

    /**
     * Sets the configuration store up against the host, or refreshes it (as kestrum -conf): the
     * account's configuration, the default offer attributes, the host's public key and a new
     * merchant key registered with the host. The directory is created when missing (its parent
     * must exist). The password appears in no exception, message or trace.
     *
     * @throws HostException when the host refuses (wrong credentials: HTTP 401)
     * @throws NetworkException when it cannot be reached
     * @throws StoreException when the store cannot be written
     */
    public static function setup(string $path, string $setupUrl, string $user, #[\SensitiveParameter] string $password): self
    {
        $store = new self($path);
        if (str_contains($password, "\0")) {
            throw new \InvalidArgumentException('the password contains a NUL byte');
        }
        $url = Text::arg($setupUrl, 'the set-up URL');
        $user = Text::arg($user, 'the user name');
        Calls::run(static function (Calls $c) use ($store, $url, $user, $password): void {
            $setup = $c->setup($store->path);
            Errors::check($c->ffi->ConfigurationSetup_Reconfigure($setup, $url, $user, $password));
        });
        return $store;
    }

    /**
     * Builds and signs a PayInit offer; sends nothing (the shopper's browser takes the URL to the
     * host). The offer has MSGTYPE, KEYID, a new TOKEN, the store's default attributes and
     * EXPIRATION, then $attributes in order (AMOUNT in minor units, CURRENCY, DESCRIPTION,
     * SUCCESSLINK...), which may replace any of them.
     *
     * @param array<string, string|int> $attributes
     */
    public function createOffer(array $attributes): Offer
    {
        [$url, $text] = Calls::run(function (Calls $c) use ($attributes): array {
            $offer = $c->made('MessageFactory_CreatePayInit', [$c->factory($this->path)]);
            $c->setAttributes($offer, $attributes);
            return [$c->fetch('MessageObject_GetURL', $offer, 8192), $c->text($offer)];
        });
        return new Offer($url, Text::attributes($text));
    }

    /**
     * Verifies a confirmation from the host (DATA and SIGNATURE of the shopper's return to the
     * SUCCESSLINK, decoded) with the host's key, and binds it to the order: a genuine confirmation
     * of another order ($token), of another amount or currency is refused (the library compares
     * the three byte for byte: "1560", not "15.60"). Sends nothing.
     *
     * @throws ConfirmationMismatchException a genuine confirmation that does not pay this order
     * @throws SignatureException anything the host did not sign, or that cannot be read
     */
    public function verifyConfirmation(string $data, string $signature, string $token, string $amount, string $currency): Confirmation
    {
        foreach (['DATA' => [$data, Errors::INVALID_FORMAT], 'SIGNATURE' => [$signature, Errors::INVALID_KEY_BLOB]] as $name => [$value, $code]) {
            // Text no host sends, from the shopper's browser: a refused confirmation like any other.
            if (str_contains($value, "\0")) {
                throw new SignatureException($code, Errors::text($code), "the confirmation's $name is not text a host sends");
            }
        }
        $order = ['AMOUNT' => $amount, 'CURRENCY' => $currency, 'TOKEN' => $token];
        foreach ($order as $name => $value) {
            Text::arg($value, "the order's $name");
        }
        [$text, $failure] = Calls::run(function (Calls $c) use ($data, $signature, $token, $amount, $currency): array {
            $factory = $c->factory($this->path);
            $out = $c->ffi->new('void*');
            $result = $c->ffi->MessageFactory_VerifyPayConfirmForOrder($factory, $data, $signature, $token, $amount, $currency, \FFI::addr($out));
            if ($result === 0) {
                return [$c->text($c->keepMessage($out)), null];
            }
            $failure = Errors::failure($result, true);
            if ($failure->getCode() !== Errors::ORDER_MISMATCH) {
                throw $failure;
            }
            // Genuine, but of another order: its own values say which attribute differs.
            return [$c->text($c->made('MessageFactory_VerifyPayConfirm', [$factory, $data, $signature], true)), $failure];
        });
        $confirmation = new Confirmation($text, Text::attributes($text));
        if ($failure !== null) {
            foreach ($order as $name => $expected) {
                $got = $confirmation->attributes[$name] ?? null;
                if ($got !== $expected) {
                    throw new ConfirmationMismatchException($name, $expected, $got, $failure->getCode(), $failure->text, $failure->getMessage());
                }
            }
            throw $failure;
        }
        return $confirmation;
    }

    /**
     * Captures a confirmed payment: sends PayComplete with the confirmation's ID and TOKEN (or the
     * $idOrConfirmation and $token given) to the host's capture URL and checks that the host
     * answers PayConfirm. Returns the PayComplete message as it was sent.
     *
     * @throws HostException when the host refuses (already captured, unknown payment)
     * @throws NetworkException when the answer is lost: then the payment may be captured or not
     */
    public function capture(Confirmation|string $idOrConfirmation, ?string $token = null): Message
    {
        if ($idOrConfirmation instanceof Confirmation) {
            $id = $idOrConfirmation->id;
            $token ??= $idOrConfirmation->token;
        } else {
            $id = $idOrConfirmation;
            if ($token === null) {
                throw new \InvalidArgumentException('capture by payment ID needs the TOKEN of its offer');
            }
        }
        $id = Text::arg($id, 'the payment ID');
        $token = Text::arg($token, 'the TOKEN');
        $text = Calls::run(function (Calls $c) use ($id, $token): string {
            $message = $c->made('MessageFactory_CreatePayComplete', [$c->factory($this->path), $id, $token]);
            Errors::check($c->ffi->MessageObject_Capture($message));
            return $c->text($message);
        });
        return new Message($text, Text::attributes($text));
    }

    /**
     * A general request (as kestrum -exec): sends $type . "Request" with $attributes to the host's
     * capture URL and returns the host's answer ($type . "Response").
     *
     * @param array<string, string|int> $attributes
     */
    public function request(string $type, array $attributes = []): Message
    {
        $type = Text::arg($type, 'the message type');
        $text = Calls::run(function (Calls $c) use ($type, $attributes): string {
            $message = $c->made('MessageFactory_CreateRequest', [$c->factory($this->path), $type]);
            $c->setAttributes($message, $attributes);
            return $c->text($c->made('MessageObject_Execute', [$message]));
        });
        return new Message($text, Text::attributes($text));
    }

    /**
     * Writes default offer attributes into the store's default.xml (as kestrum -attr); sends
     * nothing. An empty value leaves the attribute as it was.
     *
     * @param array<string, string|int> $attributes
     */
    public function setDefaults(array $attributes): void
    {
        Calls::run(function (Calls $c) use ($attributes): void {
            $setup = $c->setup($this->path);
            foreach ($attributes as $name => $value) {
                $name = (string) $name;
                Errors::check($c->ffi->ConfigurationSetup_SetAttribute(
                    $setup,
                    'default.xml',
                    Text::arg($name, 'an attribute name'),
                    Text::arg($value, $name)
                ));
            }
        });
    }
}
