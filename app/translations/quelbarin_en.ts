<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="pt_BR">
<context>
    <name>Messages</name>
    <message>
        <source>Pasta Destino não existe - Verifique !!!</source>
        <translation>The destination folder does not exist - please check!</translation>
    </message>
    <message>
        <source>Aguarde finalizar Tarefa</source>
        <translation>Please wait until the task has finished</translation>
    </message>
    <message>
        <source>Erro ao gravar registro do Windows</source>
        <translation>Error saving the settings</translation>
    </message>
    <message>
        <source>Erro ao ler arquivo de áudio</source>
        <translation>Error reading the audio file</translation>
    </message>
    <message>
        <source>Erro gravando &quot;%1&quot;</source>
        <translation>Error writing &quot;%1&quot;</translation>
    </message>
    <message>
        <source>Não foi possível substituir &quot;%1&quot; pelo arquivo normalizado</source>
        <translation>Could not replace &quot;%1&quot; with the normalized file</translation>
    </message>
    <message>
        <source>Não foi possível completar &quot;%1&quot;</source>
        <translation>Could not complete &quot;%1&quot;</translation>
    </message>
    <message>
        <source>Erro lendo &quot;%1&quot;: os dados terminam antes do esperado</source>
        <translation>Error reading &quot;%1&quot;: the data ends early</translation>
    </message>
    <message>
        <source>Espaço insuficiente no disco para gravar o arquivo %1</source>
        <translation>Not enough disk space to write the file %1</translation>
    </message>
    <message>
        <source>Erro ao gravar o arquivo %1</source>
        <translation>Error writing the file %1</translation>
    </message>
    <message>
        <source>O arquivo %1 não existe mais</source>
        <translation>The file %1 no longer exists</translation>
    </message>
    <message>
        <source>O arquivo %1 não pode ser lido</source>
        <translation>The file %1 cannot be read</translation>
    </message>
    <message>
        <source>Não foi possível criar &quot;%1&quot;</source>
        <translation>Could not create &quot;%1&quot;</translation>
    </message>
</context>
<context>
    <name>app::TDirectoryEdit</name>
    <message>
        <source>Selecionar pasta</source>
        <translation>Select folder</translation>
    </message>
</context>
<context>
    <name>app::TForm1</name>
    <message>
        <source>Quelbarin Decoder 1.0 - MP3 -&gt; WAV</source>
        <translation>Quelbarin Decoder 1.0 - MP3 -&gt; WAV</translation>
    </message>
    <message>
        <source>Aguarde...</source>
        <translation>Wait...</translation>
    </message>
    <message>
        <source>Converter</source>
        <translation>Convert</translation>
    </message>
    <message>
        <source>Converter Normalizando</source>
        <translation>Convert and normalize</translation>
    </message>
    <message>
        <source>Salvar em:</source>
        <translation>Save in:</translation>
    </message>
    <message>
        <source>Ouvir</source>
        <translation>Play</translation>
    </message>
    <message>
        <source>Parar</source>
        <translation>Stop</translation>
    </message>
    <message>
        <source>Origem:</source>
        <translation>Source:</translation>
    </message>
    <message>
        <source>Destino:</source>
        <translation>Destination:</translation>
    </message>
    <message>
        <source>Sair</source>
        <translation>Exit</translation>
    </message>
    <message>
        <source>Quelbarin Status</source>
        <translation>Quelbarin Status</translation>
    </message>
    <message>
        <source>Decodificando..</source>
        <translation>Decoding..</translation>
    </message>
    <message>
        <source>Obtendo Dados..</source>
        <translation>Reading Data..</translation>
    </message>
    <message>
        <source>Unidade de origem</source>
        <translation>Source drive</translation>
    </message>
    <message>
        <source>Pasta de origem</source>
        <translation>Source folder</translation>
    </message>
    <message>
        <source>Arquivos MP3 de origem</source>
        <translation>Source MP3 files</translation>
    </message>
    <message>
        <source>Salvar em</source>
        <translation>Save in</translation>
    </message>
    <message>
        <source>Escolher a pasta de destino</source>
        <translation>Choose the destination folder</translation>
    </message>
    <message>
        <source>Arquivos WAV de destino</source>
        <translation>Destination WAV files</translation>
    </message>
    <message>
        <source>Sobre o Quelbarin Decoder</source>
        <translation>About Quelbarin Decoder</translation>
    </message>
    <message>
        <source>Situação da conversão</source>
        <translation>Conversion status</translation>
    </message>
    <message>
        <source>Nível do canal esquerdo</source>
        <translation>Left channel level</translation>
    </message>
    <message>
        <source>Nível do canal direito</source>
        <translation>Right channel level</translation>
    </message>
    <message>
        <source>Normalizando...</source>
        <translation>Normalizing...</translation>
    </message>
</context>
<context>
    <name>app::Tform_about</name>
    <message>
        <source>About</source>
        <translation>About</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>Versão 1.0</source>
        <translation>Version 1.0</translation>
    </message>
    <message>
        <source>Atualize seu software</source>
        <translation>Update your software</translation>
    </message>
    <message>
        <source>Manual do Quelbarin</source>
        <translation>Quelbarin manual</translation>
    </message>
    <message>
        <source>Obrigado pela preferência!</source>
        <translation>Thank you for choosing us!</translation>
    </message>
</context>
</TS>
