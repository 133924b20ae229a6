<?php
// Sends one message through a PHP mail library that starts quillrun as
// "QUILLRUN -bs" and speaks SMTP to it: Debian's php-symfony-mailer (its
// sendmail transport, in its default "-bs" form) or php-swiftmailer
// (Swift_SendmailTransport).
//
//   php php_client.php symfony|swift QUILLRUN < message.json
//
// message.json: {"from": ADDRESS, "to": [...], "cc": [...], "bcc": [...],
// "subject": TEXT, "body": TEXT, "date": RFC 2822 DATE, "id": MESSAGE-ID
// without angle brackets}. The From address is the envelope sender too.
//
// Prints JSON: {"sent": what the library's send returned (Symfony: true;
// Swift: the number of accepted recipients; null when it threw),
// "failed": the recipients Swift reports refused, "errors": every transport
// exception the library raised, as {"class", "code", "message"}, "debug":
// the library's transcript of the session, without the message text}.

ini_set('display_errors', 'stderr');
// Swift Mailer 6 uses callables that PHP 8.2 deprecates; anything else shows.
error_reporting(E_ALL & ~E_DEPRECATED);

[, $library, $quillrun] = $argv;
$m = json_decode(file_get_contents('php://stdin'), true, 512, JSON_THROW_ON_ERROR);
$result = ['sent' => null, 'failed' => [], 'errors' => [], 'debug' => ''];

function error_record(Throwable $e): array
{
    return ['class' => get_class($e), 'code' => $e->getCode(), 'message' => $e->getMessage()];
}

if ('symfony' === $library) {
    require_once '/usr/share/php/Symfony/Component/Mailer/autoload.php';

    // The form a Symfony application's MAILER_DSN takes.
    $transport = Symfony\Component\Mailer\Transport::fromDsn(
        'sendmail://default?command='.rawurlencode($quillrun.' -bs'));
    $email = (new Symfony\Component\Mime\Email())
        ->from($m['from'])
        ->subject($m['subject'])
        ->text($m['body'])
        ->date(new DateTimeImmutable($m['date']));
    $email->getHeaders()->addIdHeader('Message-ID', $m['id']);
    foreach (['to' => 'addTo', 'cc' => 'addCc', 'bcc' => 'addBcc'] as $field => $add) {
        foreach ($m[$field] as $address) {
            $email->$add($address);
        }
    }
    try {
        $sent = $transport->send($email);
        $result['sent'] = null !== $sent;
        $result['debug'] = $sent ? $sent->getDebug() : '';
    } catch (Symfony\Component\Mailer\Exception\TransportExceptionInterface $e) {
        $result['errors'][] = error_record($e);
        $result['debug'] = $e->getDebug();
    }
    unset($transport); // ends the session: QUIT, then quillrun exits
} elseif ('swift' === $library) {
    require_once '/usr/share/php/Swift/autoload.php';

    // Swift catches the exception of a refused recipient itself and goes on
    // with the others; its exceptionThrown event shows every one (a rethrown
    // one twice). The transcript takes the form of Symfony's.
    $seen = new class() implements Swift_Events_TransportExceptionListener, Swift_Events_CommandListener,
        Swift_Events_ResponseListener {
        public $errors = [];
        public $transcript = '';

        public function exceptionThrown(Swift_Events_TransportExceptionEvent $evt)
        {
            if (!in_array($evt->getException(), $this->errors, true)) {
                $this->errors[] = $evt->getException();
            }
        }

        public function commandSent(Swift_Events_CommandEvent $evt)
        {
            $this->transcript .= '> '.trim($evt->getCommand())."\n";
        }

        public function responseReceived(Swift_Events_ResponseEvent $evt)
        {
            $this->transcript .= '< '.$evt->getResponse();
        }
    };
    $transport = new Swift_SendmailTransport($quillrun.' -bs');
    $transport->registerPlugin($seen);
    $message = (new Swift_Message($m['subject']))
        ->setFrom($m['from'])
        ->setBody($m['body'])
        ->setDate(new DateTimeImmutable($m['date']))
        ->setId($m['id']);
    foreach (['to' => 'setTo', 'cc' => 'setCc', 'bcc' => 'setBcc'] as $field => $set) {
        if ($m[$field]) { // an empty list would still make an empty header
            $message->$set($m[$field]);
        }
    }
    $failed = [];
    $thrown = null;
    try {
        $result['sent'] = (new Swift_Mailer($transport))->send($message, $failed);
    } catch (Swift_TransportException $e) {
        $thrown = $e;
    }
    $result['failed'] = $failed;
    foreach ($seen->errors as $e) {
        $result['errors'][] = error_record($e);
    }
    if ($thrown && !in_array($thrown, $seen->errors, true)) {
        $result['errors'][] = error_record($thrown);
    }
    $transport->stop(); // QUIT, then quillrun exits
    $result['debug'] = $seen->transcript;
} else {
    fwrite(STDERR, "unknown library: $library\n");
    exit(2);
}

echo json_encode($result, JSON_THROW_ON_ERROR | JSON_INVALID_UTF8_SUBSTITUTE), "\n";
